// Fixed texts of the main window: captions, tooltips, welcome lines, messages and web addresses (the option
// boxes' captions and tooltips are in their table, launcher/options_win.cpp).
#pragma once

#define APP_TITLE "Quorvane Launcher"

#define TEXT_WELCOME_1 "Welcome to Quorvane Launcher."
#define TEXT_WELCOME_2 "To enter game, you must wait until upater checks and downloads all files."
#define TEXT_WELCOME_3 "When program finished the work, you can click \"Play Game\"."

#define TEXT_PLAY "Play Game"
#define TEXT_REPAIR "Repair"
#define TEXT_OPTIONS_GROUP "Options (mouse over for more information"
#define TEXT_WINDOWED_GROUP "Windowed"

#define TIP_PLAY "Press to start the game when the button is enabled."

#define TEXT_PAUSE "Pause"
#define TEXT_RESUME "Resume"
#define TEXT_NO_LIMIT "No download limit"
#define TEXT_LIMIT_FORMAT "Up to %u MB/s"

#define TEXT_WAIT_FOR_UPDATE "Please wait for downloading all files..."
#define TEXT_ABOUT_UPDATES "This program will automatically update the game files."
#define TEXT_SYSTEM_INFORMATION "System Information:"

// The product's web site and social-media page (window commands 3 and 4).
#define URL_WEBSITE "https://www.quorvane.com/"
#define URL_SOCIAL "https://www.facebook.com/QuorvaneOnline"
