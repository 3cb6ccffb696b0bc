// Starting and stopping the game client Client.exe; main thread, inside a window command.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client/client.h"

namespace {

// Every report is a whole line, flushed at once: the streams may be redirected to files.
void Report(FILE* stream, const char* text) {
    fprintf(stream, "%s\n", text);
    fflush(stream);
}

}  // namespace

void StartGameClient() {
    // Whether the client started is not examined: the launcher ends with exit code 0 either way.
    ShellExecuteA(NULL, "open", "Client.exe", "-xravtemloqs", NULL, SW_SHOWNORMAL);
    exit(0);
}

void StopGameClient() {
    const char clientName[] = "Client.exe";

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        Report(stderr, "Failed to create snapshot");
        return;
    }
    PROCESSENTRY32 entry;
#ifndef _WIN64
    static_assert(sizeof entry == 296, "the ANSI process entry of the 32-bit Tool Help interface");
#endif
    entry.dwSize = sizeof entry;
    if (!Process32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        Report(stderr, "Failed to retrieve process information");
        return;
    }

    bool terminated = false;
    do {
        if (_stricmp(entry.szExeFile, clientName) != 0) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (!process) {
            // The search ends at the first client that cannot be opened.
            Report(stderr, "Failed to open process handle");
            CloseHandle(snapshot);
            return;
        }
        // Only starts the termination; the process is not waited for.
        if (TerminateProcess(process, 0)) {
            Report(stdout, "Process terminated successfully");
            terminated = true;
        } else {
            Report(stderr, "Failed to terminate process");
        }
        CloseHandle(process);
    } while (Process32Next(snapshot, &entry));

    CloseHandle(snapshot);
    if (!terminated) Report(stderr, "Process not found");
}
