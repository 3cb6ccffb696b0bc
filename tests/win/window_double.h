// What the option-box stand-ins of the Windows-side tests were asked to do, in call order.
#pragma once
#include <windows.h>

#include <vector>

struct BoxCheck {
    int id;  // the box's control id
    int checked;
    bool operator==(const BoxCheck& other) const { return id == other.id && checked == other.checked; }
};

extern std::vector<BoxCheck> BoxChecks;

// Gives every option box a stand-in handle by which SetBoxCheck knows its id.
void UseStandInOptionBoxes();
