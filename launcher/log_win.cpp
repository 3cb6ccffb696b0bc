// LogLine and AppendLogFile for Windows; callable from the main thread and the update worker.
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "launcher/log.h"
#include "launcher/window.h"

long LogLineCount;

namespace {

// The thread that owns the log list. Every line, whichever thread logs it, goes into the log's own
// queue; the owner alone takes lines out and adds them to the file and the list, so both receive
// every line once and in the queue's order. Another thread then sends WM_APP_LOGLINE, which only
// says "lines are waiting": no pointer crosses the message boundary, so the message from any
// other process, whatever its parameters, finds either nothing or our own lines to add.
// The sender waits until its lines are in the list and the file, as callers expect. The main
// thread never waits for the worker, so this cannot deadlock.
DWORD LogOwnerThread;

struct QueuedLine {
    LogTime time;
    std::string message;
};

CRITICAL_SECTION QueueLock;
std::vector<QueuedLine> Queue;

// Serialises the file append: the worker writes its file-only lines from its own thread, and two
// append handles racing for the end of the file could overwrite each other's line.
CRITICAL_SECTION LogFileLock;

// Painting in batches: under Wine each repaint and scroll of the list costs about 10 ms, far more
// than adding a line. While lines arrive faster than the screen needs, the list's redraw is off and
// a timer repaints it every PaintIntervalMs, so the player still sees it move at least 20 times a
// second; once lines stop, the last timer tick repaints and redraw is back on for the next one.
const UINT PaintIntervalMs = 50;
UINT_PTR PaintTimer;
bool RedrawOff;
DWORD LastPaintTick;
long LinesAtLastPaint;

LogTime Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

void WriteFileLines(const std::vector<QueuedLine>& lines) {
    EnterCriticalSection(&LogFileLock);
    // Opened per batch and closed at once, so other programs can read the file at any time.
    FILE* file = fopen("Launcher_log.txt", "at");
    if (file) {
        char line[LogFileLineSize];
        for (const QueuedLine& queued : lines) fwrite(line, 1, FormatLogFileLine(queued.time, queued.message.c_str(), line), file);
        fclose(file);
    }
    LeaveCriticalSection(&LogFileLock);
}

// Shows the last line selected and scrolled into view, and repaints the list now.
void PaintLogList() {
    if (RedrawOff) {
        SendMessageA(LogList, WM_SETREDRAW, TRUE, 0);
        RedrawOff = false;
    }
    if (LogLineCount > 0) SendMessageA(LogList, LB_SETCURSEL, (WPARAM)(LogLineCount - 1), 0);
    RedrawWindow(LogList, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    LastPaintTick = GetTickCount();
    LinesAtLastPaint = LogLineCount;
}

void CALLBACK PaintTimerTick(HWND, UINT, UINT_PTR, DWORD) {
    if (LogLineCount != LinesAtLastPaint || RedrawOff) {
        PaintLogList();
        return;
    }
    // A whole interval without a line: the burst is over, and the next line is painted at once.
    KillTimer(NULL, PaintTimer);
    PaintTimer = 0;
}

// Owner thread only: moves every waiting line into the file and the list, in queue order.
void TakeQueuedLines() {
    std::vector<QueuedLine> lines;
    EnterCriticalSection(&QueueLock);
    lines.swap(Queue);
    LeaveCriticalSection(&QueueLock);
    if (lines.empty()) return;

    WriteFileLines(lines);
    // A line shortly after the last paint means lines are arriving fast: stop painting per line.
    bool fast = PaintTimer != 0 || GetTickCount() - LastPaintTick < PaintIntervalMs || lines.size() > 1;
    if (fast && !RedrawOff && IsWindowVisible(LogList)) {
        SendMessageA(LogList, WM_SETREDRAW, FALSE, 0);
        RedrawOff = true;
    }
    for (const QueuedLine& line : lines) {
        SendMessageA(LogList, LB_ADDSTRING, 0, (LPARAM)line.message.c_str());
        SendMessageA(LogList, LB_SETCURSEL, (WPARAM)LogLineCount, 0);
        ++LogLineCount;
    }
    if (RedrawOff) {
        if (!PaintTimer) PaintTimer = SetTimer(NULL, 0, PaintIntervalMs, PaintTimerTick);
        // Without a timer the list could stay unpainted: paint now rather than never.
        if (!PaintTimer) PaintLogList();
    } else {
        LastPaintTick = GetTickCount();
        LinesAtLastPaint = LogLineCount;
    }
}

}  // namespace

void InitActivityLog() {
    static bool locksReady;
    if (!locksReady) {
        InitializeCriticalSection(&LogFileLock);
        InitializeCriticalSection(&QueueLock);
    }
    locksReady = true;
    LogOwnerThread = GetCurrentThreadId();
    if (PaintTimer) KillTimer(NULL, PaintTimer);
    PaintTimer = 0;
    RedrawOff = false;
    LastPaintTick = GetTickCount() - PaintIntervalMs;
    LinesAtLastPaint = 0;
}

void AppendLogFile(const char* message) {
    std::vector<QueuedLine> line{{Now(), message}};
    WriteFileLines(line);
}

LRESULT HandleLogLineMessage() {
    if (GetCurrentThreadId() == LogOwnerThread) TakeQueuedLines();
    return 0;
}

void LogLine(const char* message) {
    EnterCriticalSection(&QueueLock);
    Queue.push_back(QueuedLine{Now(), message});
    LeaveCriticalSection(&QueueLock);
    if (GetCurrentThreadId() == LogOwnerThread) {
        TakeQueuedLines();
        return;
    }
    SendMessageA(GetParent(LogList), WM_APP_LOGLINE, 0, 0);
}
