// Decisions of the launcher shell that need no window: version text and window position.
#pragma once

// Text logged for an NT-family version number; every text ends with one blank.
const char* VersionText(unsigned major, unsigned minor, unsigned build);

struct WindowOrigin {
    int x, y;
};

enum { MainWindowWidth = 620, MainWindowHeight = 635 };

// Centres the 620 x 635 window on the area a full-screen window's client area takes.
WindowOrigin CentredWindowOrigin(int fullScreenWidth, int fullScreenHeight);
