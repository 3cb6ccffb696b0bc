// The main window procedure, its controls and tooltips, and the log list layout; main thread.
#include <windows.h>
#include <commctrl.h>
#include <stddef.h>

#include "common/log.h"
#include "launcher/ui_text.h"
#include "launcher/window.h"
#include "resource.h"
#include "updater/update_run.h"

HINSTANCE AppInstance;
HFONT UiFont;
HWND MainWindow;

HWND LogList;
HWND PlayButton;
HWND RepairButton;
HWND OptionsGroup;
HWND WindowedGroup;
HWND ProgressBar;

void PaintBanner(HWND window);
void HandleCommand(int id);

namespace {

struct ControlRow {
    HWND* handle;
    const char* className;
    const char* caption;
    DWORD style;
    int x, y, width, height;
    int id;
};

const DWORD ButtonStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
const DWORD GroupStyle = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
const DWORD BoxStyle = WS_CHILD | WS_VISIBLE | BS_CHECKBOX;
enum { BoxWidth = 150, BoxHeight = 25 };

// The two group boxes; the option boxes inside them come from the option table.
const ControlRow GroupRows[] = {
    {&OptionsGroup, "button", TEXT_OPTIONS_GROUP, GroupStyle, 40, 450, 380, 140, IDC_GROUP},
    {&WindowedGroup, "button", TEXT_WINDOWED_GROUP, GroupStyle, 55, 470, 350, 105, IDC_GROUP},
};

const char* const WelcomeLines[] = {TEXT_WELCOME_1, TEXT_WELCOME_2, TEXT_WELCOME_3, ""};

HWND CreateChild(HWND parent, const ControlRow& row, DWORD exStyle, HINSTANCE instance) {
    HWND control = CreateWindowExA(exStyle, row.className, row.caption, row.style, row.x, row.y, row.width,
                                   row.height, parent, (HMENU)(INT_PTR)row.id, instance, NULL);
    *row.handle = control;
    return control;
}

void SetUiFont(HWND control) {
    SendMessageA(control, WM_SETFONT, (WPARAM)UiFont, 0);
}

void AddTooltip(HWND control, const char* text) {
    HINSTANCE module = GetModuleHandleA(NULL);
    HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, control, NULL, module, NULL);
    SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    RECT rect;
    GetClientRect(control, &rect);
    TOOLINFOA info{};
    // The whole ANSI structure up to and including lpReserved (48 bytes in a 32-bit process).
    info.cbSize = offsetof(TOOLINFOA, lpReserved) + sizeof(info.lpReserved);
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = control;
    info.uId = (UINT_PTR)control;
    info.rect = rect;
    info.hinst = module;
    info.lpszText = (LPSTR)text;
    SendMessageA(tooltip, TTM_ADDTOOLA, 0, (LPARAM)&info);
    SendMessageA(tooltip, TTM_SETMAXTIPWIDTH, 0, 300);
}

// Whether box a comes before box b on screen: column by column, each from the top.
bool BoxBefore(const OptionBox& a, const OptionBox& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// The boxes are created in screen order, so that the tab order follows the layout. Each pass takes the first box
// after the one created last: a handful of rows, scanned in place.
void CreateOptionBoxes(HWND window) {
    const OptionBox* last = NULL;
    for (int created = 0; created < OptionBoxCount; ++created) {
        int next = -1;
        for (int i = 0; i < OptionBoxCount; ++i) {
            if (last && !BoxBefore(*last, OptionBoxes[i])) continue;
            if (next < 0 || BoxBefore(OptionBoxes[i], OptionBoxes[next])) next = i;
        }
        const OptionBox& box = OptionBoxes[next];
        const ControlRow row{&OptionBoxWindows[next], "button", box.caption, BoxStyle, box.x, box.y, BoxWidth, BoxHeight,
                             box.id};
        SetUiFont(CreateChild(window, row, 0, NULL));
        last = &box;
    }
}

LRESULT CreateControls(HWND window) {
    const ControlRow logRow{&LogList, "ListBox", NULL,
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT,
                            1, 150, 150, 1, IDC_LOGLIST};
    if (!CreateChild(window, logRow, WS_EX_CLIENTEDGE, NULL)) return -1;
    SetUiFont(LogList);
    for (const char* line : WelcomeLines) LogLine(line);

    const ControlRow playRow{&PlayButton, "button", TEXT_PLAY, ButtonStyle, 240, 418, 120, 30, IDC_PLAY};
    SetUiFont(CreateChild(window, playRow, 0, NULL));
    // Stays disabled until the update run has brought every file up to date.
    EnableWindow(PlayButton, FALSE);

    const ControlRow repairRow{&RepairButton, "button", TEXT_REPAIR, ButtonStyle, 455, 455, 120, 30, IDC_REPAIR};
    SetUiFont(CreateChild(window, repairRow, 0, NULL));

    for (const ControlRow& row : GroupRows) SetUiFont(CreateChild(window, row, 0, NULL));
    CreateOptionBoxes(window);

    const ControlRow progressRow{&ProgressBar, PROGRESS_CLASSA, NULL, WS_CHILD | WS_VISIBLE, 40, 385, 534, 25, IDC_PROGRESS};
    CreateChild(window, progressRow, 0, AppInstance);
    SendMessageA(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    CreateRunControls(window);
    return 0;
}

void LayoutLogList(HWND window) {
    HDWP positions = BeginDeferWindowPos(1);
    if (!positions) return;
    RECT client;
    GetClientRect(window, &client);
    positions = DeferWindowPos(positions, GetDlgItem(window, IDC_LOGLIST), NULL, 40, 190, client.right - 70,
                               client.bottom - 410, SWP_NOZORDER | SWP_NOREDRAW);
    EndDeferWindowPos(positions);
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_NOFRAME);
}

LRESULT SetMinimumTrackSize(LPARAM lParam) {
    if (lParam) {
        MINMAXINFO* info = (MINMAXINFO*)lParam;
        info->ptMinTrackSize.x = 10;
        info->ptMinTrackSize.y = 10;
    }
    return 0;
}

}  // namespace

void SetBoxCheck(HWND box, int checked) {
    // Sent to the box itself: the progress bar shares VSyncBox's id, and a lookup by id could reach it.
    SendMessageA(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void AddTooltips() {
    INITCOMMONCONTROLSEX classes{8, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    // In an order of their own: Play's first, then the boxes' by their places.
    AddTooltip(PlayButton, TIP_PLAY);
    for (int place = 2; place <= OptionBoxCount + 1; ++place) {
        for (int i = 0; i < OptionBoxCount; ++i) {
            if (OptionBoxes[i].tipPlace == place) AddTooltip(OptionBoxWindows[i], OptionBoxes[i].tooltip);
        }
    }
}

UpdatePlan StartupPlan;
volatile unsigned char UpdateFinished;

namespace {

// Window side of the update run, called on the UpdateWorker thread. SendMessage returns once the
// main thread has applied the change, so changes appear in the order the worker makes them.
class WindowObserver : public UpdateObserver {
public:
    void FilesPending(int count) override {
        SetProgressRange(count);
        SendMessageA(MainWindow, WM_APP_RUNSTATE, 1, count);
    }
    void FilesFinished(int count) override { SendMessageA(ProgressBar, PBM_SETPOS, (WPARAM)count, 0); }
    void RunEnded() override {
        SendMessageA(MainWindow, WM_APP_RUNSTATE, 0, 0);
        EnableWindow(PlayButton, TRUE);
        UpdateFinished = 1;
        SetProgressRange(5);
        SendMessageA(ProgressBar, PBM_SETPOS, 5, 0);
    }

private:
    static void SetProgressRange(int upper) { SendMessageA(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, upper)); }
};

WindowObserver RunObserver;

}  // namespace

void StartUpdateRun() {
    StartUpdateWorker(StartupPlan, RunObserver);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return CreateControls(window);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintBanner(window);
        return 0;
    case WM_GETMINMAXINFO:
        return SetMinimumTrackSize(lParam);
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
        LayoutLogList(window);
        return 0;
    case WM_COMMAND:
        if (!HandleRunCommand(LOWORD(wParam), HIWORD(wParam))) HandleCommand(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        HandleStatusTimer();
        return 0;
    case WM_APP_RUNSTATE:
        if (wParam) RunTransfersStarted((int)lParam);
        else RunTransfersEnded();
        return 0;
    case WM_APP_LOGLINE:
        return HandleLogLineMessage();
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
