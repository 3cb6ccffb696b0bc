// Update manifest reader: the list of paths and their SHA-1 digests as a value; main thread at start-up (and the
// publisher tool).
#pragma once
#include <vector>

enum {
    MaxManifestEntries = 1000,
    PathSlotSize = 200,    // 199 characters and the terminator
    DigestSlotSize = 150,  // 149 characters and the terminator
};

// One line of the manifest: a relative path and the digest it is listed with, each within its slot.
struct ManifestEntry {
    char path[PathSlotSize];
    char digest[DigestSlotSize];
};

struct Manifest {
    std::vector<ManifestEntry> entries;  // at most MaxManifestEntries, in the file's order
    // Lines that were refused or skipped with a log line of their own (unsafe path, field too long, entries
    // beyond the limit); the update run then cannot claim success.
    int refusedLines = 0;
};

// Logs "Try to reading update.cfg" and reads the manifest; no entries when it cannot be opened. A null name
// reads nothing after that line: a list that was not fetched, or was refused, is never read, whatever is on disk.
Manifest LoadManifest(const char* fileName);

// True when a manifest path names a file inside the game folder that Windows can open as a plain
// file: relative (no leading separator, no colon), no empty component, no component that ends in
// a dot or a blank (so no "." or ".."), no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// CONIN$, CONOUT$, in any case and with any extension), no control character or < > " | ? *.
// The publisher tool refuses the same paths through this function.
bool IsSafeManifestPath(const char* path);
