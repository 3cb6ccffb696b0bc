// Registry half of the start-up settings step: the client's compatibility layers; main thread, once, before the message loop runs.
#include "client/compat_win.h"

#include "client/client.h"
#include "client/compat.h"

namespace {

const char CompatLayersKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
// Run as administrator, in Windows 8 compatibility mode.
const char CompatLayersData[] = "~ RUNASADMIN WIN8RTM";

}  // namespace

bool WriteCompatibilityLayer(HKEY root, const char* subKey, const char* modulePath) {
    char clientPath[ClientPathSize];
    if (!BuildClientPath(modulePath, clientPath, sizeof clientPath)) return false;

    HKEY key;
    if (RegCreateKeyExA(root, subKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS) {
        return false;
    }
    // The size counts the terminating zero: 21 bytes. Whatever the value held before is replaced.
    RegSetValueExA(key, clientPath, 0, REG_SZ, (const BYTE*)CompatLayersData, lstrlenA(CompatLayersData) + 1);
    RegCloseKey(key);
    return true;
}

void RegisterCompatibilityLayer() {
    char modulePath[ClientPathSize];
    DWORD length = GetModuleFileNameA(NULL, modulePath, sizeof modulePath);
    // 0 is a failure and a full buffer means the path was cut: either way the client's path is unknown.
    if (length == 0 || length >= sizeof modulePath) return;
    WriteCompatibilityLayer(HKEY_CURRENT_USER, CompatLayersKey, modulePath);
}
