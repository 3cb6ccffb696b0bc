// Replacing a file's contents in one step, POSIX half; any thread.
#include <stdio.h>

#include <string>

#include "common/text.h"

bool ReplaceFileContents(const char* path, const void* data, size_t size) {
    std::string temporary = std::string(path) + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool written = fwrite(data, 1, size, file) == size;
    written = fclose(file) == 0 && written;
    // rename replaces an existing target in one step here.
    if (!written || rename(temporary.c_str(), path) != 0) {
        remove(temporary.c_str());
        return false;
    }
    return true;
}
