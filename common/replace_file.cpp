// Replacing a file's contents in one step; any thread. Only the final rename differs between platforms.
#include <stdio.h>

#include <string>

#include "common/text.h"

// Moves from over to in one step, replacing to; replace_file_posix.cpp or replace_file_win.cpp.
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
