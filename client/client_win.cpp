// Starting and stopping the game client Client.exe; main thread, inside a window command.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client/client.h"

namespace {

// Every report is a whole line of fixed text, flushed at once: the streams may be redirected to files and the
// lines compared by a script.
void Report(FILE* stream, const char* text) {
    fprintf(stream, "%s\n", text);
    fflush(stream);
}

// Whether the process is another installation's client: true only when its image path can be read
// and is not the Client.exe of the current directory (compared without regard to case). A client
// whose path cannot be read is ours by its name alone.
bool IsForeignClient(DWORD processId, const char* ourClient) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return false;
    char image[MAX_PATH];
    DWORD length = sizeof image;
    BOOL read = QueryFullProcessImageNameA(process, 0, image, &length);
    CloseHandle(process);
    if (!read) return false;
    char fullImage[MAX_PATH];
    DWORD fullLength = GetFullPathNameA(image, sizeof fullImage, fullImage, NULL);
    if (fullLength == 0 || fullLength >= sizeof fullImage) return false;
    return _stricmp(fullImage, ourClient) != 0;
}

}  // namespace

void StartGameClient() {
    // Whether the client started is not examined: the launcher ends with exit code 0 either way.
    ShellExecuteA(NULL, "open", "Client.exe", "-xravtemloqs", NULL, SW_SHOWNORMAL);
    exit(0);
}

void StopGameClient() {
    const char clientName[] = "Client.exe";
    char ourClient[MAX_PATH];
    DWORD length = GetFullPathNameA(clientName, sizeof ourClient, ourClient, NULL);
    if (length == 0 || length >= sizeof ourClient) ourClient[0] = '\0';  // then only unreadable paths match

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
        Report(stderr, "Failed to retrieve process information");
        CloseHandle(snapshot);
        return;
    }

    bool terminated = false;
    do {
        if (_stricmp(entry.szExeFile, clientName) != 0) continue;
        if (IsForeignClient(entry.th32ProcessID, ourClient)) continue;
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
