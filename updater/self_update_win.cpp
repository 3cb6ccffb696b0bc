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
#include "updater/delta/patch.h"
#include "updater/net/downloader.h"
#include "updater/self_update.h"
#include "updater/update_run.h"

namespace {

// The old program is still running for a moment after it started this one: its file can be deleted only
// once it has ended. It ends right after the start (under Wine its file stays held for up to 2 s), so a few
// seconds are plenty. The window waits for it, so that a launcher closed at once leaves nothing aside.
const int AsideRemovalTries = 50;
const DWORD AsideRemovalPauseMs = 100;

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
    return true;
}

// The moves and the start, with the Win32 calls; the started program waits, suspended, until released.
class Win32SelfUpdate : public SelfUpdateSystem {
public:
    ~Win32SelfUpdate() {
        if (started_.hThread) CloseHandle(started_.hThread);
        if (started_.hProcess) CloseHandle(started_.hProcess);
    }
    bool Move(const char* from, const char* to, bool replace) override {
        return Done(MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0));
    }
    bool Copy(const char* from, const char* to) override { return Done(CopyFileA(from, to, FALSE)); }
    void Discard(const char* path) override { DeleteFileA(path); }
    bool StartHeld(const char* path) override {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        // CreateProcessA may write into the command line, so it gets a copy.
        std::vector<char> commandLine(GetCommandLineA(), GetCommandLineA() + lstrlenA(GetCommandLineA()) + 1);
        return Done(CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                   nullptr, &startup, &started_));
    }
    bool ReleaseStarted() override { return Done(ResumeThread(started_.hThread) != (DWORD)-1); }
    void EndStarted() override { TerminateProcess(started_.hProcess, 1); }
    std::string LastErrorText() override {
        char text[256];
        return SystemErrorText(error_, text, sizeof text);
    }

private:
    bool Done(BOOL ok) {
        if (!ok) error_ = GetLastError();
        return ok != FALSE;
    }
    PROCESS_INFORMATION started_{};
    DWORD error_ = 0;
};

}  // namespace

bool SelfUpdate(UpdatePlan& plan) {
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
    const std::vector<ManifestEntry>& entries = plan.manifest.entries;
    int entry = OwnManifestEntry(modulePath, entries);
    if (entry < 0) return false;

    char ownDigest[DigestTextSize];
    std::vector<unsigned char> buffer(DigestReadSize);
    if (DigestFile(modulePath, ownDigest, buffer.data()) != 0) ownDigest[0] = '\0';
    if (!NeedsSelfUpdate(entries[entry].digest, ownDigest)) return false;
    // Until the new program runs, the update run must not try to replace this one's file.
    plan.runningProgramEntry = entry;

    // Fetched first, and checked like every file (SHA-1 and, in a signed build, the signed length and SHA-256).
    const FileFingerprint* fingerprint = plan.fingerprints.empty() ? nullptr : &plan.fingerprints[entry];
    FetchRequest request{entries[entry].path, entries[entry].digest, fingerprint, staged,
                         GameFileLimits(DownloadTimeoutSeconds), 0};
    std::vector<std::string> lines;
    // Patched from the running program's own file when the publisher indexed the new one, like any large file.
    bool fetched = PatchOrFetchFile(request, lines);
    for (const std::string& line : lines) LogLine(line.c_str());
    if (!fetched) {
        LogLine("Launcher not updated: the new program could not be downloaded");
        return false;
    }
    Win32SelfUpdate system;
    if (!PutNewProgramInPlace(modulePath, staged, aside, system)) return false;
    plan.runningProgramEntry = -1;
    return true;
}
