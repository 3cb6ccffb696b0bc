// The game client's option file contents\launcher.ini; main thread only.
#pragma once

struct ClientOptions {
    unsigned char windowed;
    unsigned char borderless;
    unsigned char resizable_window;
    unsigned char ignore_windows_scaling;
    unsigned char lockmouse;
    unsigned char unlockfps;
    unsigned char vsync;
    unsigned char double_size_window;
    unsigned char antyaliasing;
};

// The nine flags, each 0 or 1; defaults: antyaliasing on, the rest off.
extern ClientOptions LauncherSettings;

// The window handle type of <windows.h>, named here so that the option table builds on any platform.
struct HWND__;

// The check boxes of the main window that show the options; created and written by the window on
// the main thread (null in builds without a window).
extern HWND__* WindowedBox;
extern HWND__* LockMouseBox;
extern HWND__* ResizableWindowBox;
extern HWND__* IgnoreScalingBox;
extern HWND__* DoubleSizeBox;
extern HWND__* VSyncBox;
extern HWND__* UnlockFpsBox;
extern HWND__* AntialiasingBox;

// One option: its key in the settings file and, when it is shown in the window, its check box.
struct SettingsKey {
    const char* key;       // null ends the table
    unsigned char* flag;
    int boxId;             // 0 for an option kept in the file that has no box
    HWND__** box;
    const char* caption;
    const char* tooltip;
    int x, y;              // the box's position in the main window; every box is BoxWidth x BoxHeight
};
enum { BoxWidth = 150, BoxHeight = 25, OptionBoxCount = 8 };

// Every option in file order, ended by an entry without key text. The settings file, the window's
// boxes and tooltips, the option commands and the start-up sync all walk this one table.
extern const SettingsKey SettingsKeyTable[];

// Relative to the current directory.
extern const char SettingsPath[];

void ReadSettings();
void WriteSettings();
