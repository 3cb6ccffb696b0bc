// What the option-box stand-ins of the Windows-side tests were asked to do, in call order.
#pragma once
#include <windows.h>

#include <vector>

struct BoxCheck {
    HWND box;
    int checked;
    bool operator==(const BoxCheck& other) const { return box == other.box && checked == other.checked; }
};

extern std::vector<BoxCheck> BoxChecks;
