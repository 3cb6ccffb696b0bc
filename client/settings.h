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

// The flags, each 0 or 1; they start at the table's defaults (antyaliasing on, the rest off).
extern ClientOptions LauncherSettings;

// One option of the settings file: its key, its flag in LauncherSettings and its default.
struct SettingsKey {
    const char* key;  // null ends the table
    unsigned char ClientOptions::*flag;
    unsigned char defaultValue;
};

// Every option in file order, ended by an entry without key text. The window shows the options
// through a table of its own that names these flags.
extern const SettingsKey SettingsKeyTable[];

// The flags as a fresh installation has them, from the table.
ClientOptions DefaultClientOptions();

// Relative to the current directory.
extern const char SettingsPath[];

// The launcher's own setting, kept in the same file after the client's keys, in a section of its own:
//   [Launcher]
//   download_limit = 5
// The client's reader passes over it (the section line has no "=", and the key is none of its own). The download
// limit of every transfer together, in MB/s; 0 (and any value not offered) is none, and writes no section.
extern unsigned DownloadLimitMBs;
// The limits a player can choose, none first.
enum { DownloadLimitChoices = 6 };
extern const unsigned DownloadLimitChoicesMBs[DownloadLimitChoices];

void ReadSettings();
void WriteSettings();
