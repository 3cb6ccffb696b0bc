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
#define IDC_WINDOWED 7
#define IDC_LOCKMOUSE 8
#define IDC_RESIZABLE 9
#define IDC_VSYNC 10
#define IDC_REPAIR 11
#define IDC_IGNORE_SCALING 12
#define IDC_UNLOCK_FPS 13
#define IDC_DOUBLE_SIZE 14
#define IDC_ANTIALIASING 15
#define IDC_PROGRESS 10
#define IDC_LOGLIST 101
