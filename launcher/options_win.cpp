// The window's option boxes: their table, and the start-up settings step that reads the settings file,
// shows it in the boxes and registers the client's compatibility layers; main thread.
#include <windows.h>

#include "client/client.h"
#include "client/settings.h"
#include "launcher/ui_text.h"
#include "launcher/window.h"
#include "resource.h"

const OptionBox OptionBoxes[OptionBoxCount] = {
    {&WindowedBox, &ClientOptions::windowed, IDC_WINDOWED, TEXT_WINDOWED, TIP_WINDOWED, 65, 485},
    {&LockMouseBox, &ClientOptions::lockmouse, IDC_LOCKMOUSE, TEXT_LOCKMOUSE, TIP_LOCKMOUSE, 65, 505},
    {&ResizableWindowBox, &ClientOptions::resizable_window, IDC_RESIZABLE, TEXT_RESIZABLE, TIP_RESIZABLE, 65, 525},
    {&VSyncBox, &ClientOptions::vsync, IDC_VSYNC, TEXT_VSYNC, TIP_VSYNC, 245, 505},
    {&UnlockFpsBox, &ClientOptions::unlockfps, IDC_UNLOCK_FPS, TEXT_UNLOCK_FPS, TIP_UNLOCK_FPS, 245, 525},
    {&IgnoreScalingBox, &ClientOptions::ignore_windows_scaling, IDC_IGNORE_SCALING, TEXT_IGNORE_SCALING,
     TIP_IGNORE_SCALING, 65, 545},
    {&DoubleSizeBox, &ClientOptions::double_size_window, IDC_DOUBLE_SIZE, TEXT_DOUBLE_SIZE, TIP_DOUBLE_SIZE, 245, 485},
    {&AntialiasingBox, &ClientOptions::antyaliasing, IDC_ANTIALIASING, TEXT_ANTIALIASING, TIP_ANTIALIASING, 245, 545},
};

void InitClientSettings() {
    ReadSettings();
    SyncOptionBoxes();
    RegisterCompatibilityLayer();
}

void SyncOptionBoxes() {
    for (const OptionBox& option : OptionBoxes) {
        SetBoxCheck(*option.box, LauncherSettings.*option.flag ? BST_CHECKED : BST_UNCHECKED);
    }
}
