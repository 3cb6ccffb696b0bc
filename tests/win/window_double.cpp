// Stand-ins for the main window's option boxes in the Windows-side tests: SetBoxCheck records its calls.
#include <windows.h>

#include <vector>

#include "launcher/window.h"
#include "win/window_double.h"

namespace {

// A stand-in handle is this plus its box's id; nothing is ever sent to it.
const UINT_PTR StandInBase = 0x7000;

}  // namespace

std::vector<BoxCheck> BoxChecks;

void UseStandInOptionBoxes() {
    for (int i = 0; i < OptionBoxCount; ++i) OptionBoxWindows[i] = (HWND)(StandInBase + OptionBoxes[i].id);
}

void SetBoxCheck(HWND box, int checked) {
    BoxChecks.push_back({(int)((UINT_PTR)box - StandInBase), checked});
}
