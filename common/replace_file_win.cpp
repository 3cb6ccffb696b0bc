// Replacing a file's contents in one step, Win32 half; any thread.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "common/text.h"

bool ReplaceFileContents(const char* path, const void* data, size_t size) {
    std::string temporary = std::string(path) + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(data, 1, size, file) == size;
    written = fclose(file) == 0 && written;
    // The runtime's rename refuses an existing target; MoveFileEx replaces it in one step.
    if (!written || !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}
