// Small file helpers shared by every subsystem: a file's length, a small file read whole, a file replaced in one
// step; portable (only the final rename differs per platform), any thread.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// The length of a file in bytes, -1 when it cannot be read (also beyond 2 GiB in a 32-bit program).
long long FileLength(const char* path);

// Reads a whole file of at most limit bytes into data; false when it cannot be opened or read, or is longer.
bool ReadSmallFile(const char* path, size_t limit, std::string& data);

// The bytes this user may still write on the volume that holds folder; false when it cannot be told
// (file_posix.cpp or file_win.cpp).
bool FreeDiskSpace(const char* folder, uint64_t* bytes);

// Writes size bytes to path through a temporary file beside it that then replaces path, so a
// reader never sees half a file. False, with nothing left behind, when any step fails.
bool ReplaceFileContents(const char* path, const void* data, size_t size);
