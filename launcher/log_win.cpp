// LogLine and AppendLogFile for Windows; callable from the main thread and the update worker.
#include <windows.h>
#include <stdio.h>

#include "launcher/log.h"
#include "launcher/window.h"

long LogLineCount;

// The thread that owns the log list. Lines logged on any other thread are carried out on it
// through one sent message, so the list, the file and LogLineCount change on one thread only and
// a worker's lines keep their order. The main thread never waits for the worker, so this cannot deadlock.
static DWORD LogOwnerThread;

// Serialises the file append: the worker writes its file-only lines from its own thread, and two
// append handles racing for the end of the file could overwrite each other's line.
static CRITICAL_SECTION LogFileLock;

void InitActivityLog() {
    static bool lockReady;
    if (!lockReady) InitializeCriticalSection(&LogFileLock);
    lockReady = true;
    LogOwnerThread = GetCurrentThreadId();
}

void AppendLogFile(const char* message) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    char line[LogFileLineSize];
    size_t length = FormatLogFileLine(time, message, line);

    EnterCriticalSection(&LogFileLock);
    FILE* file = fopen("Launcher_log.txt", "at");
    if (file) {
        fwrite(line, 1, length, file);
        fclose(file);
    }
    LeaveCriticalSection(&LogFileLock);
}

static void AddLogLine(const char* message) {
    SendMessageA(LogList, LB_ADDSTRING, 0, (LPARAM)message);
    AppendLogFile(message);
    SendMessageA(LogList, LB_SETCURSEL, (WPARAM)LogLineCount, 0);
    ++LogLineCount;
}

LRESULT HandleLogLineMessage(LPARAM message) {
    AddLogLine((const char*)message);
    return 0;
}

void LogLine(const char* message) {
    if (GetCurrentThreadId() == LogOwnerThread) {
        AddLogLine(message);
        return;
    }
    // Returns once the main thread has added the line; the caller's buffer stays valid until then.
    SendMessageA(GetParent(LogList), WM_APP_LOGLINE, 0, (LPARAM)message);
}
