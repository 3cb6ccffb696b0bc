// Path of Client.exe beside the launcher, built from the launcher's own path; main thread, start-up.
#include "client/compat.h"

#include <string.h>

bool BuildClientPath(const char* modulePath, char* out, size_t outSize) {
    static const char ClientName[] = "\\Client.exe";
    if (out && outSize > 0) out[0] = '\0';
    if (!modulePath || !modulePath[0] || !out) return false;

    // The folder is everything before the last backslash; a path without one is kept whole.
    const char* lastBackslash = strrchr(modulePath, '\\');
    size_t folderLength = lastBackslash ? (size_t)(lastBackslash - modulePath) : strlen(modulePath);
    // sizeof ClientName counts the terminator of the finished path.
    if (folderLength > outSize || outSize - folderLength < sizeof ClientName) return false;

    memcpy(out, modulePath, folderLength);
    memcpy(out + folderLength, ClientName, sizeof ClientName);
    return true;
}
