// Stand-ins for the main window's option boxes in the Windows-side tests: SetBoxCheck records its calls.
#include <windows.h>

#include <vector>

#include "launcher/window.h"
#include "win/window_double.h"

// Distinct fake handles; nothing is ever sent to them.
HWND WindowedBox = (HWND)(UINT_PTR)0x7007;
HWND LockMouseBox = (HWND)(UINT_PTR)0x7008;
HWND ResizableWindowBox = (HWND)(UINT_PTR)0x7009;
HWND VSyncBox = (HWND)(UINT_PTR)0x7010;
HWND IgnoreScalingBox = (HWND)(UINT_PTR)0x7012;
HWND UnlockFpsBox = (HWND)(UINT_PTR)0x7013;
HWND DoubleSizeBox = (HWND)(UINT_PTR)0x7014;
HWND AntialiasingBox = (HWND)(UINT_PTR)0x7015;

std::vector<BoxCheck> BoxChecks;

void SetBoxCheck(HWND box, int checked) {
    BoxChecks.push_back({box, checked});
}
