// Fixed texts of the main window: captions, tooltips, welcome lines, messages and web addresses.
#pragma once

#define APP_TITLE "Quorvane Launcher"

#define TEXT_WELCOME_1 "Welcome to Quorvane Launcher."
#define TEXT_WELCOME_2 "To enter game, you must wait until upater checks and downloads all files."
#define TEXT_WELCOME_3 "When program finished the work, you can click \"Play Game\"."

#define TEXT_PLAY "Play Game"
#define TEXT_REPAIR "Repair"
#define TEXT_OPTIONS_GROUP "Options (mouse over for more information"
#define TEXT_WINDOWED_GROUP "Windowed"
#define TEXT_WINDOWED "Windowed"
#define TEXT_LOCKMOUSE "Lock mouse to game area"
#define TEXT_RESIZABLE "Resizable window"
#define TEXT_IGNORE_SCALING "Ignore Windows's Scaling"
#define TEXT_DOUBLE_SIZE "Double Window size"
#define TEXT_VSYNC "VSync"
#define TEXT_UNLOCK_FPS "Unlock FPS"
#define TEXT_ANTIALIASING "Antyaliasing"

#define TIP_PLAY "Press to start the game when the button is enabled."
#define TIP_LOCKMOUSE "Prevents the mouse from moving out of the game area while playing."
#define TIP_WINDOWED "Enables playing in windowed mode."
#define TIP_RESIZABLE "Allows resizing the window in windowed mode."
#define TIP_VSYNC "VSync keeps your graphics in sync with your monitor's refresh rate."
#define TIP_UNLOCK_FPS "May provide smoother gameplay on some machines, but consumes more resources."
#define TIP_IGNORE_SCALING                                                                                      \
    "Prevents Windows from scaling the game window by its default scaling setting. This may make the less " \
    "burry or small enough to fit on your monitor."
#define TIP_DOUBLE_SIZE "Doubles the size of the window to 1280x960."
#define TIP_ANTIALIASING "Disabled fixes artifacts and lines between the tile map when stretching the window."

#define TEXT_WAIT_FOR_UPDATE "Please wait for downloading all files..."
#define TEXT_ABOUT_UPDATES "This program will automatically update the game files."
#define TEXT_SYSTEM_INFORMATION "System Information:"

// The product's web site and social-media page (window commands 3 and 4).
#define URL_WEBSITE "https://www.quorvane.com/"
#define URL_SOCIAL "https://www.facebook.com/QuorvaneOnline"
