// Entry point: creates the window, runs the start-up steps and the message loop; main thread.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>

#include "client/client.h"
#include "common/log.h"
#include "launcher/startup.h"
#include "launcher/ui_text.h"
#include "launcher/window.h"
#include "resource.h"
#include "updater/update_run.h"

namespace {

ATOM RegisterMainWindowClass() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = AppInstance;
    windowClass.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_LAUNCHER));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = APP_TITLE;
    windowClass.hIconSm = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_LAUNCHER_SMALL));
    return RegisterClassExA(&windowClass);
}

HFONT CreateUiFont() {
    HDC screen = GetDC(NULL);
    int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_TT_PRECIS, 0, 0, 0, "Tahoma");
    ReleaseDC(NULL, screen);
    return font;
}

HWND CreateMainWindow() {
    WindowOrigin origin = CentredWindowOrigin(GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
    return CreateWindowExA(WS_EX_APPWINDOW, APP_TITLE, APP_TITLE, WS_SYSMENU | WS_MINIMIZEBOX, origin.x, origin.y,
                           MainWindowWidth, MainWindowHeight, NULL, NULL, AppInstance, NULL);
}

void LogSystemInformation() {
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA((OSVERSIONINFOA*)&version)) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA((OSVERSIONINFOA*)&version)) return;
    }
    LogLine(TEXT_SYSTEM_INFORMATION);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return;
    LogLine(VersionText(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber));
    LogLine("");
}

// Sleeps in WaitMessage while the queue is empty instead of polling.
int RunMessageLoop() {
    MSG message;
    for (;;) {
        if (!PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE)) {
            WaitMessage();
            continue;
        }
        if (!GetMessageA(&message, NULL, 0, 0)) return (int)message.wParam;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    AppInstance = instance;
    InitActivityLog();

    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    if (!RegisterMainWindowClass()) return 0;
    UiFont = CreateUiFont();
    MainWindow = CreateMainWindow();
    if (!MainWindow) return 0;

    SetPriorityClass(GetCurrentProcess(), ABOVE_NORMAL_PRIORITY_CLASS);
    InitClientSettings();
    SyncRunControls();
    StartupPlan = PrepareUpdate();
    if (StartupPlan.restarting) return 0;

    ShowWindow(MainWindow, showCommand);
    UpdateWindow(MainWindow);
    StartUpdateRun();

    LogSystemInformation();
    // Before the window takes input, but after it shows and while the update runs.
    AddTooltips();
    return RunMessageLoop();
}
