// The log list: takes the activity log's queued lines into the window's list box and paints it in batches; main thread.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/log.h"
#include "launcher/window.h"

long LogLineCount;

namespace {

// The thread that owns the log list; the list and LogLineCount change on it alone. A line logged
// on any thread is appended to the file and put in the log's queue at once, in one order. The
// owner takes lines out of the queue into the list. Another thread posts WM_APP_LOGLINE, which only says "lines are waiting":
// no pointer crosses the message boundary, so the message from any other process, whatever its
// parameters, finds either nothing or our own lines to add. The worker never waits for the main
// thread (which may be painting), and the main thread never waits for the worker.
DWORD LogOwnerThread;

// Every message that reaches the list first takes the waiting lines in, so whoever reads the list
// (its own painting, or another program asking for its lines once "Play Game" is enabled) sees
// every line logged before. Taking is set while lines are added, so they keep their order.
WNDPROC ListBoxProc;
HWND SubclassedList;
bool Taking;

// Painting in batches: under Wine each repaint and scroll of the list costs about 10 ms and some 150
// requests to Wine's server, which the transfers wait on too; far more than adding a line. While lines
// arrive faster than the screen needs, the list's redraw is off and a timer repaints it. Its interval is
// twenty times what the last repaint took, within 50 to 250 ms, so painting takes about a twentieth of
// the time whatever it costs: the list moves 20 times a second where a repaint is cheap, about 5 under
// Wine. Once lines stop, the last tick repaints and redraw is back on for the next line.
const UINT MinPaintIntervalMs = 50, MaxPaintIntervalMs = 250;
UINT PaintIntervalMs = MinPaintIntervalMs;
UINT_PTR PaintTimer;
bool RedrawOff;
DWORD LastPaintTick;
long LinesAtLastPaint;

void CALLBACK PaintTimerTick(HWND, UINT, UINT_PTR, DWORD);

// Shows the last line selected and scrolled into view, repaints the list now, and sets the next
// interval from what the repaint took.
void PaintLogList() {
    if (RedrawOff) {
        CallWindowProcA(ListBoxProc, LogList, WM_SETREDRAW, TRUE, 0);
        RedrawOff = false;
    }
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    if (LogLineCount > 0) CallWindowProcA(ListBoxProc, LogList, LB_SETCURSEL, (WPARAM)(LogLineCount - 1), 0);
    RedrawWindow(LogList, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    LONGLONG interval = frequency.QuadPart > 0 ? 20 * 1000 * (end.QuadPart - start.QuadPart) / frequency.QuadPart : 0;
    PaintIntervalMs = (UINT)std::min<LONGLONG>(std::max<LONGLONG>(interval, MinPaintIntervalMs), MaxPaintIntervalMs);
    // A running timer takes the new interval (the same id replaces it).
    if (PaintTimer) PaintTimer = SetTimer(NULL, PaintTimer, PaintIntervalMs, PaintTimerTick);
    LastPaintTick = GetTickCount();
    LinesAtLastPaint = LogLineCount;
}

void TakeQueuedLines();

void CALLBACK PaintTimerTick(HWND, UINT, UINT_PTR, DWORD) {
    TakeQueuedLines();
    if (LogLineCount != LinesAtLastPaint || RedrawOff) {
        PaintLogList();
        return;
    }
    // A whole interval without a line: the burst is over, and the next line is painted at once.
    KillTimer(NULL, PaintTimer);
    PaintTimer = 0;
}

LRESULT CALLBACK LogListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!Taking) TakeQueuedLines();
    return CallWindowProcA(ListBoxProc, list, message, wParam, lParam);
}

// Owner thread only: moves every waiting line into the list, in queue order.
void TakeQueuedLines() {
    if (!LogList || Taking) return;
    if (SubclassedList != LogList) {
        ListBoxProc = (WNDPROC)SetWindowLongPtrA(LogList, GWLP_WNDPROC, (LONG_PTR)LogListProc);
        SubclassedList = LogList;
    }
    std::vector<std::string> lines;
    TakeLoggedLines(lines);
    if (lines.empty()) return;

    Taking = true;
    // A line soon after the last paint means lines are arriving fast: stop painting per line.
    bool fast = PaintTimer != 0 || GetTickCount() - LastPaintTick < PaintIntervalMs || lines.size() > 1;
    if (fast && !RedrawOff && IsWindowVisible(LogList)) {
        CallWindowProcA(ListBoxProc, LogList, WM_SETREDRAW, FALSE, 0);
        RedrawOff = true;
    }
    for (const std::string& line : lines) {
        CallWindowProcA(ListBoxProc, LogList, LB_ADDSTRING, 0, (LPARAM)line.c_str());
        ++LogLineCount;
    }
    // The last line is the one selected: selecting each on the way costs as much as adding it.
    CallWindowProcA(ListBoxProc, LogList, LB_SETCURSEL, (WPARAM)(LogLineCount - 1), 0);
    Taking = false;
    if (RedrawOff) {
        if (!PaintTimer) PaintTimer = SetTimer(NULL, 0, PaintIntervalMs, PaintTimerTick);
        // Without a timer the list could stay unpainted: paint now rather than never.
        if (!PaintTimer) PaintLogList();
    } else {
        LastPaintTick = GetTickCount();
        LinesAtLastPaint = LogLineCount;
    }
}

// Runs on the thread that logged a line. The owner takes it in at once; another thread posts
// WM_APP_LOGLINE, one message per batch: the lines queued after it are taken in with it. Should
// the post fail (a full message queue), the sent message still gets them in.
void LineQueued(bool queueWasEmpty) {
    if (GetCurrentThreadId() == LogOwnerThread) {
        TakeQueuedLines();
        return;
    }
    if (queueWasEmpty && !PostMessageA(GetParent(LogList), WM_APP_LOGLINE, 0, 0))
        SendMessageA(GetParent(LogList), WM_APP_LOGLINE, 0, 0);
}

}  // namespace

void InitActivityLog() {
    LogOwnerThread = GetCurrentThreadId();
    SetLogListener(LineQueued);
    if (PaintTimer) KillTimer(NULL, PaintTimer);
    PaintTimer = 0;
    RedrawOff = false;
    LastPaintTick = GetTickCount() - PaintIntervalMs;
    LinesAtLastPaint = 0;
}

LRESULT HandleLogLineMessage() {
    if (GetCurrentThreadId() == LogOwnerThread) TakeQueuedLines();
    return 0;
}
