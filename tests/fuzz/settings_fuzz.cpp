// Fuzz target of the settings reader: never a crash, every flag 0 or 1, and the flags written and read back
// are the flags that were read.
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include "client/settings.h"
#include "fuzz_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InFuzzFolder folder;
    mkdir("contents", 0777);
    WriteWholeFile(SettingsPath, data, size);
    LauncherSettings = ClientOptions{0, 0, 0, 0, 0, 0, 0, 0, 1};
    ReadSettings();
    const ClientOptions read = LauncherSettings;
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) {
        if (LauncherSettings.*entry->flag > 1) abort();
    }
    WriteSettings();
    // Every flag the other way round first, so a key the writer left out would show.
    for (const SettingsKey* entry = SettingsKeyTable; entry->key; ++entry) {
        LauncherSettings.*entry->flag = !(LauncherSettings.*entry->flag);
    }
    ReadSettings();
    if (memcmp(&read, &LauncherSettings, sizeof read) != 0) {
        fprintf(stderr, "the flags written did not read back the same\n");
        abort();
    }
    return 0;
}
