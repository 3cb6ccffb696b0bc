// The activity log's file and queue for Windows; LogLine and AppendLogFile are called from every thread.
#include <windows.h>
#include <stdio.h>

#include "common/log.h"

namespace {

// A line is appended to the file and put in the queue under one lock, so the file and the queue
// hold the lines in the same order.
struct LogLock {
    CRITICAL_SECTION section;
    // Ready before WinMain or any test runs, so no thread can log before it exists.
    LogLock() { InitializeCriticalSection(&section); }
} Lock;

std::vector<std::string> Queue;
LogListener Listener;
std::vector<std::string>* Captured;
DWORD CapturingThread;

// Appends one timestamped line to the open log file (none when it could not be opened).
void WriteFileLine(FILE* file, const char* message) {
    if (!file) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    char line[LogFileLineSize];
    size_t length = FormatLogFileLine(time, message, line);
    fwrite(line, 1, length, file);
}

}  // namespace

void SetLogListener(LogListener listener) {
    EnterCriticalSection(&Lock.section);
    Listener = listener;
    LeaveCriticalSection(&Lock.section);
}

void TakeLoggedLines(std::vector<std::string>& lines) {
    EnterCriticalSection(&Lock.section);
    lines.swap(Queue);
    Queue.clear();
    LeaveCriticalSection(&Lock.section);
}

void AppendLogFile(const char* message) {
    LogLines({{message, true}});
}

void CaptureLogLines(std::vector<std::string>* into) {
    EnterCriticalSection(&Lock.section);
    Captured = into;
    CapturingThread = GetCurrentThreadId();
    LeaveCriticalSection(&Lock.section);
}

void LogLines(const std::vector<LogBatchLine>& lines) {
    if (lines.empty()) return;
    EnterCriticalSection(&Lock.section);
    const bool capturing = Captured && CapturingThread == GetCurrentThreadId();
    FILE* file = nullptr;
    // Opened per call and closed at once, so that other programs can read it at any time; opened at the first line
    // for it, so that captured lines alone leave it untouched.
    bool opened = false;
    LogListener listener = Listener;
    const bool first = Queue.empty();
    bool queued = false;
    for (const LogBatchLine& line : lines) {
        if (!line.fileOnly && capturing) {
            Captured->push_back(line.text);
            continue;
        }
        if (!opened) {
            file = fopen("Launcher_log.txt", "at");
            opened = true;
        }
        WriteFileLine(file, line.text.c_str());
        if (!line.fileOnly && listener) {
            Queue.push_back(line.text);
            queued = true;
        }
    }
    if (file) fclose(file);
    LeaveCriticalSection(&Lock.section);
    if (queued) listener(first);
}

void LogLine(const char* message) {
    LogLines({{message, false}});
}
