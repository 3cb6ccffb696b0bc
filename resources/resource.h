// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDI_LAUNCHER 107
#define IDI_LAUNCHER_SMALL 108
#define IDB_BANNER 129

// Command and control ids of the main window.
#define IDC_PLAY 1
#define IDC_SHOW_ABOUT 2
#define IDC_OPEN_WEBSITE 3
#define IDC_OPEN_SOCIAL 4
#define IDC_QUIT 5
#define IDC_GROUP 6
#define IDC_REPAIR 11
// The option boxes take 7 to 10 and 12 to 15 (their table, launcher/options_win.cpp); the progress bar shares
// the VSync box's id.
#define IDC_PROGRESS 10
#define IDC_LOGLIST 101
// The player's controls of a long update, after the design's controls.
#define IDC_RUN_STATUS 16
#define IDC_PAUSE 17
#define IDC_LIMIT 18
