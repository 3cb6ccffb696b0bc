// Process-wide handles of the main window and its controls; written once on the main thread while the window is created, read by both threads.
#pragma once
#include <windows.h>

#include "client/settings.h"  // ClientOptions, whose flags the option boxes show
#include "updater/update_run.h"

extern HINSTANCE AppInstance;
extern HFONT UiFont;
extern HWND MainWindow;

extern HWND LogList;
extern HWND PlayButton;
extern HWND RepairButton;
extern HWND OptionsGroup;
extern HWND WindowedGroup;
extern HWND ProgressBar;

// One option check box: its id, caption and tooltip, its tooltip's place in the window's tooltip order, its
// position and the settings flag it shows.
struct OptionBox {
    int id;
    const char* caption;
    const char* tooltip;
    int tipPlace;
    int x, y;
    unsigned char ClientOptions::*flag;
};
// The boxes in the order in which the start-up sync sets them, and their number; options_win.cpp.
extern const OptionBox OptionBoxes[];
extern const int OptionBoxCount;
// The boxes' handles, OptionBoxWindows[i] showing OptionBoxes[i].
extern HWND OptionBoxWindows[];

// The update plan that start-up prepared, for the first run and the Repair run; written on the main thread
// before the first run starts, then only read.
extern UpdatePlan StartupPlan;
// 0 until the first update run ends, then 1; written once by the worker (the window's side of the run).
extern volatile unsigned char UpdateFinished;
// Starts an update run of StartupPlan on the worker thread, reporting to the window (start-up, and Repair once
// the first run has ended, so that two runs never overlap).
void StartUpdateRun();

// The player's controls of a long update (controls_win.cpp): the status line, Pause and the download limit.
extern HWND RunStatusText;
extern HWND PauseButton;
extern HWND LimitBox;
// Creates them after the design's controls; sets the limit box from the settings read at start-up.
void CreateRunControls(HWND window);
void SyncRunControls();
// WM_COMMAND of the three; false for any other id.
bool HandleRunCommand(int id, int code);
// A run's transfers began (with the number of files to fetch) or ended; main thread.
void RunTransfersStarted(int files);
void RunTransfersEnded();
void HandleStatusTimer();

// Private message by which the update worker tells the main thread that a run's transfers begin (wParam 1, lParam
// the number of files) or ended (wParam 0).
#define WM_APP_RUNSTATE (WM_APP + 2)

// Private message by which another thread tells the main thread that log lines are waiting in the
// log's queue; its parameters carry nothing.
#define WM_APP_LOGLINE (WM_APP + 1)

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Makes the tooltips of Play and the option boxes once the window shows: each tooltip window takes several
// milliseconds to make, which showing the window would otherwise wait for.
void AddTooltips();

// Sets a check box's state; sent to the box itself, so id 10 reaches the VSync box, not the progress bar.
void SetBoxCheck(HWND box, int checked);

// Adds the lines waiting in the log's queue to the list (on the log's owner thread; a no-op on any other).
LRESULT HandleLogLineMessage();

// Start-up settings step (options_win.cpp): ReadSettings, SyncOptionBoxes, RegisterCompatibilityLayer.
void InitClientSettings();
// Makes the option boxes show the flags of LauncherSettings.
void SyncOptionBoxes();

// Makes the calling thread the owner of the log list (log_list_win.cpp); from then on every logged
// line reaches the list, from any other thread through WM_APP_LOGLINE.
void InitActivityLog();
// Index of the next list line; equals the number of lines in the log list. Changed on the owner thread only.
extern long LogLineCount;
