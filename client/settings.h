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

struct SettingsKey {
    const char* key;       // null ends the table
    unsigned char* flag;
};
// Keys in file order, ended by an entry without key text.
extern const SettingsKey SettingsKeyTable[];

// Relative to the current directory.
extern const char SettingsPath[];

void ReadSettings();
void WriteSettings();
