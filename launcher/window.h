// Process-wide handles of the main window and its controls; written once on the main thread while the window is created, read by both threads.
#pragma once
#include <windows.h>

#include "client/settings.h"

extern HINSTANCE AppInstance;
extern HFONT UiFont;
extern HWND MainWindow;

extern HWND LogList;
extern HWND PlayButton;
extern HWND RepairButton;
extern HWND OptionsGroup;
extern HWND WindowedGroup;
extern HWND ProgressBar;
// The eight option boxes are declared with the option table they belong to.

// Private message by which another thread tells the main thread that log lines are waiting in the
// log's queue; its parameters carry nothing.
#define WM_APP_LOGLINE (WM_APP + 1)

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets a check box's state by its id on the main window; id 10 reaches VSyncBox, not the progress bar.
void SetBoxCheck(HWND box, int checked);

// Adds the lines waiting in the log's queue to the list (on the log's owner thread; a no-op on any other).
LRESULT HandleLogLineMessage();

// Start-up settings step (options_win.cpp): ReadSettings, SyncOptionBoxes, RegisterCompatibilityLayer.
void InitClientSettings();
// Makes the option boxes show the flags of LauncherSettings.
void SyncOptionBoxes();

// Makes the calling thread the owner of the log list; LogLine from any other thread goes through it.
void InitActivityLog();
