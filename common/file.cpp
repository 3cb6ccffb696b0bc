// Small file helpers: length, whole reads, replacement in one step; any thread. Only the final rename differs
// between platforms.
#include "common/file.h"

#include <stdio.h>
#include <sys/stat.h>

// Moves from over to in one step, replacing to; file_posix.cpp or file_win.cpp.
bool RenameReplacing(const char* from, const char* to);

bool ReplaceFileContents(const char* path, const void* data, size_t size) {
    std::string temporary = std::string(path) + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(data, 1, size, file) == size;
    written = fclose(file) == 0 && written;
    if (!written || !RenameReplacing(temporary.c_str(), path)) {
        remove(temporary.c_str());
        return false;
    }
    return true;
}

long long FileLength(const char* path) {
#ifdef _WIN32
    struct _stati64 info;  // the plain stat of a 32-bit program fails beyond 2 GiB
    return _stati64(path, &info) == 0 ? (long long)info.st_size : -1;
#else
    struct stat info;
    return stat(path, &info) == 0 ? (long long)info.st_size : -1;
#endif
}

bool ReadSmallFile(const char* path, size_t limit, std::string& data) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    data.resize(limit + 1);
    size_t count = fread(&data[0], 1, data.size(), file);
    bool ok = !ferror(file) && count <= limit;
    fclose(file);
    data.resize(count);
    return ok;
}
