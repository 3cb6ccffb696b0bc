// The window's option boxes: their table and handles, and the start-up settings step that reads the settings
// file, shows it in the boxes and registers the client's compatibility layers; main thread.
#include <windows.h>

#include "client/client.h"
#include "client/settings.h"
#include "launcher/window.h"

// The boxes in the order in which the start-up sync sets them. tipPlace is the box's place among the window's
// tooltips, Play's being 1. Id 10 is also the progress bar's; the other ids of the window are in resource.h.
constexpr OptionBox OptionBoxes[] = {
    // id, caption, tooltip, tipPlace, x, y, flag
    {7, "Windowed", "Enables playing in windowed mode.", 3, 65, 485, &ClientOptions::windowed},
    {8, "Lock mouse to game area", "Prevents the mouse from moving out of the game area while playing.", 2, 65, 505,
     &ClientOptions::lockmouse},
    {9, "Resizable window", "Allows resizing the window in windowed mode.", 4, 65, 525,
     &ClientOptions::resizable_window},
    {10, "VSync", "VSync keeps your graphics in sync with your monitor's refresh rate.", 5, 245, 505,
     &ClientOptions::vsync},
    {13, "Unlock FPS", "May provide smoother gameplay on some machines, but consumes more resources.", 6, 245, 525,
     &ClientOptions::unlockfps},
    {12, "Ignore Windows's Scaling",
     "Prevents Windows from scaling the game window by its default scaling setting. This may make the less burry "
     "or small enough to fit on your monitor.",
     7, 65, 545, &ClientOptions::ignore_windows_scaling},
    {14, "Double Window size", "Doubles the size of the window to 1280x960.", 8, 245, 485,
     &ClientOptions::double_size_window},
    {15, "Antyaliasing", "Disabled fixes artifacts and lines between the tile map when stretching the window.", 9,
     245, 545, &ClientOptions::antyaliasing},
};
constexpr int OptionBoxCount = sizeof OptionBoxes / sizeof OptionBoxes[0];

HWND OptionBoxWindows[OptionBoxCount];

namespace {

// The window makes the tooltips by place, so a place taken twice or left empty would lose a tooltip.
constexpr bool EveryTooltipPlaceTakenOnce() {
    for (int place = 2; place <= OptionBoxCount + 1; ++place) {
        int taken = 0;
        for (const OptionBox& option : OptionBoxes) taken += option.tipPlace == place;
        if (taken != 1) return false;
    }
    return true;
}
static_assert(EveryTooltipPlaceTakenOnce(), "the boxes' tooltip places are 2 to OptionBoxCount + 1, each once");

}  // namespace

void InitClientSettings() {
    ReadSettings();
    SyncOptionBoxes();
    RegisterCompatibilityLayer();
}

void SyncOptionBoxes() {
    for (int i = 0; i < OptionBoxCount; ++i) {
        SetBoxCheck(OptionBoxWindows[i], LauncherSettings.*OptionBoxes[i].flag ? BST_CHECKED : BST_UNCHECKED);
    }
}
