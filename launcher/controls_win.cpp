// A player's controls of a long update, after the design's controls: the status line near the progress bar, Pause
// and Resume, the download limit and the taskbar button's progress; main thread (a timer samples the transfers).
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>
#include <stdio.h>

#include "client/settings.h"
#include "launcher/ui_text.h"
#include "launcher/window.h"
#include "resource.h"
#include "updater/net/progress.h"

HWND RunStatusText;
HWND PauseButton;
HWND LimitBox;

namespace {

// The status line is sampled four times a second while a run transfers, and once more when it ends.
const UINT StatusIntervalMs = 250;
const UINT_PTR StatusTimer = 1;

ITaskbarList3* Taskbar;
bool TaskbarTried;
DWORD RunStartTick;
bool Transferring;

HWND CreateRunControl(HWND window, const char* className, const char* caption, DWORD style, int x, int y, int width,
                      int height, int id) {
    HWND control = CreateWindowExA(0, className, caption, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window,
                                   (HMENU)(INT_PTR)id, NULL, NULL);
    SendMessageA(control, WM_SETFONT, (WPARAM)UiFont, 0);
    return control;
}

// The taskbar button's progress (Windows 7 and later); where the interface is missing nothing is shown.
ITaskbarList3* TaskbarButton() {
    if (TaskbarTried) return Taskbar;
    TaskbarTried = true;
    if (FAILED(CoInitialize(NULL))) return nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, NULL, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, (void**)&Taskbar)) ||
        FAILED(Taskbar->HrInit())) {
        if (Taskbar) Taskbar->Release();
        Taskbar = nullptr;
    }
    return Taskbar;
}

void ShowStatus() {
    char text[120];
    double rate = RunMeter.Sample(GetTickCount64());
    FormatTransferStatus(text, sizeof text, RunMeter.Arrived(), RunMeter.Total(), rate, RunMeter.Steady());
    SetWindowTextA(RunStatusText, text);
    if (ITaskbarList3* taskbar = TaskbarButton()) {
        uint64_t total = RunMeter.Total(), arrived = RunMeter.Arrived();
        if (total > 0) {
            taskbar->SetProgressState(MainWindow, TransferControl.Paused() ? TBPF_PAUSED : TBPF_NORMAL);
            taskbar->SetProgressValue(MainWindow, arrived < total ? arrived : total, total);
        } else {
            taskbar->SetProgressState(MainWindow, TBPF_INDETERMINATE);
        }
    }
}

void ApplyLimit() {
    TransferControl.SetLimit((uint64_t)DownloadLimitMBs * 1000000);
}

}  // namespace

void CreateRunControls(HWND window) {
    // Left of Play, under the progress bar: the one free strip near it. Two lines, since a long status wraps.
    RunStatusText = CreateRunControl(window, "Static", "", SS_LEFT, 40, 414, 195, 32, IDC_RUN_STATUS);
    // Under Repair, right of the options: usable while files transfer.
    PauseButton = CreateRunControl(window, "button", TEXT_PAUSE, BS_PUSHBUTTON, 455, 492, 120, 30, IDC_PAUSE);
    EnableWindow(PauseButton, FALSE);
    // Wider than the buttons, towards the options' frame, so that "No download limit" shows whole.
    LimitBox = CreateRunControl(window, "ComboBox", NULL, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 430, 530, 145,
                                160, IDC_LIMIT);
    for (unsigned limit : DownloadLimitChoicesMBs) {
        char text[40];
        if (limit) snprintf(text, sizeof text, TEXT_LIMIT_FORMAT, limit);
        else snprintf(text, sizeof text, "%s", TEXT_NO_LIMIT);
        SendMessageA(LimitBox, CB_ADDSTRING, 0, (LPARAM)text);
    }
}

void SyncRunControls() {
    for (int i = 0; i < DownloadLimitChoices; ++i) {
        if (DownloadLimitChoicesMBs[i] == DownloadLimitMBs) SendMessageA(LimitBox, CB_SETCURSEL, (WPARAM)i, 0);
    }
    ApplyLimit();
}

bool HandleRunCommand(int id, int code) {
    if (id == IDC_PAUSE) {
        bool pause = !TransferControl.Paused();
        TransferControl.SetPaused(pause);
        SetWindowTextA(PauseButton, pause ? TEXT_RESUME : TEXT_PAUSE);
        ShowStatus();
        return true;
    }
    if (id == IDC_LIMIT) {
        if (code != CBN_SELCHANGE) return true;
        LRESULT chosen = SendMessageA(LimitBox, CB_GETCURSEL, 0, 0);
        if (chosen < 0 || chosen >= DownloadLimitChoices) return true;
        DownloadLimitMBs = DownloadLimitChoicesMBs[chosen];
        // At once, for the transfers already running too; kept for the next start.
        ApplyLimit();
        WriteSettings();
        return true;
    }
    return false;
}

void RunTransfersStarted(int files) {
    RunStartTick = GetTickCount();
    Transferring = files > 0;
    EnableWindow(PauseButton, Transferring);
    if (Transferring) SetTimer(MainWindow, StatusTimer, StatusIntervalMs, NULL);
}

void RunTransfersEnded() {
    KillTimer(MainWindow, StatusTimer);
    EnableWindow(PauseButton, FALSE);
    TransferControl.SetPaused(false);
    SetWindowTextA(PauseButton, TEXT_PAUSE);
    if (!Transferring) return;
    Transferring = false;
    char text[80];
    FormatTransferSummary(text, sizeof text, RunMeter.Arrived(), GetTickCount() - RunStartTick);
    SetWindowTextA(RunStatusText, text);
    if (ITaskbarList3* taskbar = TaskbarButton()) taskbar->SetProgressState(MainWindow, TBPF_NOPROGRESS);
}

void HandleStatusTimer() {
    if (Transferring) ShowStatus();
}
