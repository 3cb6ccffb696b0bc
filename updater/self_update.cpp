// Self-update decisions: is an entry the running program, does it differ, which names the move uses; portable,
// main thread at start-up.
#include "updater/self_update.h"

#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "updater/net/downloader.h"

namespace {

// Length of the folder part of path, without its last separator.
size_t FolderLength(const char* path) {
    const char* slash = strrchr(path, '\\');
    const char* other = strrchr(path, '/');
    if (!slash || (other && other > slash)) slash = other;
    return slash ? (size_t)(slash - path) : 0;
}

}  // namespace

bool RunsFromDirectory(const char* modulePath, const char* directory) {
    size_t folder = FolderLength(modulePath);
    // "C:\game\" and "C:\game" are the same folder.
    size_t length = strlen(directory);
    while (length > 0 && (directory[length - 1] == '\\' || directory[length - 1] == '/')) --length;
    if (folder == 0 || length != folder) return false;
    for (size_t i = 0; i < folder; ++i) {
        if (FoldCase(modulePath[i]) != FoldCase(directory[i])) return false;
    }
    return true;
}

int OwnManifestEntry(const char* modulePath, const char (*paths)[PathSlotSize], int count) {
    size_t folder = FolderLength(modulePath);
    const char* baseName = modulePath + folder + (folder || modulePath[0] == '\\' || modulePath[0] == '/');
    for (int i = 0; *baseName && i < count; ++i) {
        if (EqualIgnoringCase(paths[i], baseName)) return i;
    }
    return -1;
}

bool NeedsSelfUpdate(const char* listedDigest, const char* ownDigest) {
    return IsHexDigest40(listedDigest) && !EqualIgnoringCase(listedDigest, ownDigest);
}

bool MakeSelfUpdateNames(const char* baseName, char* staged, size_t stagedSize, char* aside, size_t asideSize) {
    int stagedLength = snprintf(staged, stagedSize, "%s\\%s.new", StagingFolder, baseName);
    int asideLength = snprintf(aside, asideSize, "%s .old", baseName);
    return stagedLength > 0 && (size_t)stagedLength < stagedSize && asideLength > 0 && (size_t)asideLength < asideSize;
}
