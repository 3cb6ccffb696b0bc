// WM_COMMAND handling of the main window: play, repair, option boxes and the commands no control sends; main thread.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>

#include "client/client.h"
#include "client/settings.h"
#include "common/text.h"
#include "common/log.h"
#include "launcher/ui_text.h"
#include "launcher/window.h"
#include "resource.h"
#include "updater/update_run.h"

namespace {

// Options and Repair wait for the first update run; the message box has no owner, so the window stays usable.
bool UpdateGatePassed() {
    if (UpdateFinished) return true;
    MessageBoxA(NULL, TEXT_WAIT_FOR_UPDATE, NULL, MB_OK);
    return false;
}

void ToggleOption(unsigned char* flag, HWND box) {
    *flag = *flag ? 0 : 1;
    SetBoxCheck(box, *flag);
    WriteSettings();
}

// Whether the file list in use names Client.exe, so that the repair run can download it again.
bool ManifestListsClient() {
    for (const ManifestEntry& entry : StartupPlan.manifest.entries) {
        if (EqualIgnoringCase(entry.path, "Client.exe")) return true;
    }
    return false;
}

void RunRepair() {
    StopGameClient();
    // Client.exe is deleted only when the repair run can bring it back: not when the file list could
    // not be downloaded or was refused, nor when it does not name the client.
    if (ManifestListsClient()) remove("Client.exe");
    SendMessageA(ProgressBar, PBM_SETPOS, 0, 0);
    // The first run has ended (UpdateFinished is set), so the two runs never overlap.
    StartUpdateRun();
    EnableWindow(RepairButton, FALSE);
}

void OpenWebPage(const char* address) {
    ShellExecuteA(NULL, "open", address, "", "", SW_SHOWNORMAL);
}

}  // namespace

void HandleCommand(int id) {
    for (int i = 0; i < OptionBoxCount; ++i) {
        if (OptionBoxes[i].id == id) {
            if (UpdateGatePassed()) ToggleOption(&(LauncherSettings.*OptionBoxes[i].flag), OptionBoxWindows[i]);
            return;
        }
    }
    switch (id) {
    case IDC_PLAY:
        StartGameClient();
    case IDC_SHOW_ABOUT:
        LogLine(TEXT_ABOUT_UPDATES);
        return;
    case IDC_OPEN_WEBSITE:
        OpenWebPage(URL_WEBSITE);
        return;
    case IDC_OPEN_SOCIAL:
        OpenWebPage(URL_SOCIAL);
        return;
    case IDC_QUIT:
        PostQuitMessage(0);
        return;
    case IDC_REPAIR:
        if (UpdateGatePassed()) RunRepair();
        return;
    }
}
