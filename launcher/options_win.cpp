// Start-up settings step of the window: reads the settings file, shows it in the option boxes and
// registers the client's compatibility layers; main thread, once, after the window exists.
#include <windows.h>

#include "client/client.h"
#include "client/settings.h"
#include "launcher/window.h"

void InitClientSettings() {
    ReadSettings();
    SyncOptionBoxes();
    RegisterCompatibilityLayer();
}

void SyncOptionBoxes() {
    for (const SettingsKey* option = SettingsKeyTable; option->key; ++option) {
        if (option->boxId) SetBoxCheck(*option->box, *option->flag ? BST_CHECKED : BST_UNCHECKED);
    }
}
