// Win32 half of the self-update: fetches the new program into the staging folder, moves the running one
// aside, puts the new one in its place and starts it; main thread, at start-up, before the update worker.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "common/system_error.h"
#include "updater/sha1.h"
#include "updater/net/downloader.h"
#include "updater/self_update.h"
#include "updater/trust/signature.h"
#include "updater/update_run.h"

namespace {

// The old program is still running for a moment after it started this one: its file can be deleted only
// once it has ended. It ends right after the start (under Wine its file stays held for up to 2 s), so a few
// seconds are plenty. The window waits for it, so that a launcher closed at once leaves nothing aside.
const int AsideRemovalTries = 50;
const DWORD AsideRemovalPauseMs = 100;

void LogNotUpdated(const char* why, DWORD error) {
    char text[256];
    snprintf(LogMessageBuffer, LogMessageBufferSize, "Launcher not updated: %s%s%s", why, error ? ": " : "",
             error ? SystemErrorText(error, text, sizeof text) : "");
    LogLine(LogMessageBuffer);
}

// Removes the program a self-update moved aside; true when there was one, i.e. this program was started by it.
bool RemoveAsideProgram(const char* aside) {
    DWORD attributes = GetFileAttributesA(aside);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    SetFileAttributesA(aside, FILE_ATTRIBUTE_NORMAL);
    for (int i = 0; i < AsideRemovalTries; ++i) {
        if (DeleteFileA(aside) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
        Sleep(AsideRemovalPauseMs);
    }
    char text[256];
    snprintf(LogMessageBuffer, LogMessageBufferSize, "Could not remove %s: %s", aside,
             SystemErrorText(GetLastError(), text, sizeof text));
    LogLine(LogMessageBuffer);
    RunningProgramEntry = -1;
    return true;
}

// Starts the program at path with this process's command line, in the same folder.
bool StartProgram(const char* path) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets a copy.
    std::vector<char> commandLine(GetCommandLineA(), GetCommandLineA() + lstrlenA(GetCommandLineA()) + 1);
    if (!CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    RunningProgramEntry = -1;
    return true;
}

}  // namespace

bool SelfUpdate() {
    char modulePath[MAX_PATH], currentDirectory[MAX_PATH];
    DWORD moduleLength = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    DWORD currentLength = GetCurrentDirectoryA(sizeof currentDirectory, currentDirectory);
    if (moduleLength == 0 || moduleLength >= sizeof modulePath || currentLength == 0 ||
        currentLength >= sizeof currentDirectory) {
        return false;
    }
    const char* baseName = strrchr(modulePath, '\\');
    baseName = baseName ? baseName + 1 : modulePath;
    char staged[MAX_PATH], aside[MAX_PATH];
    if (!MakeSelfUpdateNames(baseName, staged, sizeof staged, aside, sizeof aside)) return false;

    // The names are relative: they matter only when the program runs from the current directory.
    if (!RunsFromDirectory(modulePath, currentDirectory)) return false;
    if (RemoveAsideProgram(aside)) return false;
    int entry = OwnManifestEntry(modulePath, EntryPath, EntryCount);
    if (entry < 0) return false;

    char ownDigest[DigestTextSize];
    std::vector<unsigned char> buffer(DigestReadSize);
    if (DigestFile(modulePath, ownDigest, buffer.data()) != 0) ownDigest[0] = '\0';
    if (!NeedsSelfUpdate(ExpectedDigest[entry], ownDigest)) return false;
    // Until the new program runs, the update run must not try to replace this one's file.
    RunningProgramEntry = entry;

    // Fetched first, and checked like every file (SHA-1 and, in a signed build, the signed length and SHA-256).
    FetchRequest request{EntryPath[entry], ExpectedDigest[entry], EntryFingerprints ? &EntryFingerprints[entry] : nullptr,
                         staged, GameFileLimits(DownloadTimeoutSeconds), 0};
    std::vector<std::string> lines;
    bool fetched = FetchFile(request, lines);
    for (const std::string& line : lines) LogLine(line.c_str());
    if (!fetched) {
        LogNotUpdated("the new program could not be downloaded", 0);
        return false;
    }
    // A running program's file may be renamed, not replaced: it goes aside, the new one takes its name.
    if (!MoveFileExA(modulePath, aside, 0)) {
        LogNotUpdated("the running program could not be moved aside", GetLastError());
        DeleteFileA(staged);
        return false;
    }
    if (!MoveFileExA(staged, modulePath, 0)) {
        DWORD error = GetLastError();
        MoveFileExA(aside, modulePath, 0);
        DeleteFileA(staged);
        LogNotUpdated("the new program could not be put in place", error);
        return false;
    }
    LogLine("Launcher updated, restarting.");
    if (!StartProgram(modulePath)) {
        DWORD error = GetLastError();
        MoveFileExA(aside, modulePath, MOVEFILE_REPLACE_EXISTING);
        LogNotUpdated("the new program could not be started", error);
        return false;
    }
    RunningProgramEntry = -1;
    return true;
}
