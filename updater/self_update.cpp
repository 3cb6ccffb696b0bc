// Self-update decisions: is an entry the running program, does it differ, which names the move uses; portable,
// main thread at start-up.
#include "updater/self_update.h"

#include <stdio.h>
#include <string.h>

#include "common/log.h"
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

int OwnManifestEntry(const char* modulePath, const std::vector<ManifestEntry>& entries) {
    size_t folder = FolderLength(modulePath);
    const char* baseName = modulePath + folder + (folder || modulePath[0] == '\\' || modulePath[0] == '/');
    for (size_t i = 0; *baseName && i < entries.size(); ++i) {
        if (EqualIgnoringCase(entries[i].path, baseName)) return (int)i;
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

namespace {

void LogNotUpdated(const char* why, const std::string& error) {
    snprintf(LogMessageBuffer, LogMessageBufferSize, "Launcher not updated: %s: %s", why, error.c_str());
    LogLine(LogMessageBuffer);
}

// Brings the old program back from aside to module (over whatever lies there), by a move or else a copy, which
// works while the old program still runs from aside. Logs where each program is when both fail.
void PutOldProgramBack(const char* module, const char* aside, const char* newProgram, SelfUpdateSystem& system) {
    if (system.Move(aside, module, true) || system.Copy(aside, module)) return;
    std::string error = system.LastErrorText();
    snprintf(LogMessageBuffer, LogMessageBufferSize,
             "Launcher not restored: %s: the previous program is %s, the new one %s", error.c_str(), aside,
             newProgram);
    LogLine(LogMessageBuffer);
}

}  // namespace

bool PutNewProgramInPlace(const char* module, const char* staged, const char* aside, SelfUpdateSystem& system) {
    // A running program's file may be renamed, not replaced: it goes aside, the new one takes its name.
    if (!system.Move(module, aside, false)) {
        LogNotUpdated("the running program could not be moved aside", system.LastErrorText());
        system.Discard(staged);
        return false;
    }
    if (!system.Move(staged, module, false)) {
        std::string error = system.LastErrorText();
        LogNotUpdated("the new program could not be put in place", error);
        PutOldProgramBack(module, aside, staged, system);
        return false;
    }
    if (!system.StartHeld(module)) {
        std::string error = system.LastErrorText();
        LogNotUpdated("the new program could not be started", error);
        PutOldProgramBack(module, aside, module, system);
        return false;
    }
    LogLine("Launcher updated, restarting.");
    if (system.ReleaseStarted()) return true;
    std::string error = system.LastErrorText();
    system.EndStarted();
    LogNotUpdated("the new program could not be started", error);
    PutOldProgramBack(module, aside, module, system);
    return false;
}
