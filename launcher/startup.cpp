// Version text and window placement of the launcher shell; portable, main thread.
#include "launcher/startup.h"

namespace {

struct VersionRow {
    unsigned major;
    unsigned minor;
    const char* text;
};

// Windows 10 and 11 share 10.0 and are told apart by the build number.
const VersionRow VersionTable[] = {
    {6, 3, "Microsoft Windows 8.1 "},
    {6, 2, "Microsoft Windows 8 "},
    {6, 1, "Microsoft Windows 7 "},
    {6, 0, "Microsoft Windows Vista "},
    {5, 2, "Microsoft Windows XP 64-Bit Edition "},
    {5, 1, "Microsoft Windows XP "},
    {5, 0, "Microsoft Windows 2000 "},
};

const char UnknownVersion[] = "Unknown Windows version ";

}  // namespace

const char* VersionText(unsigned major, unsigned minor, unsigned build) {
    if (major == 10) {
        if (minor != 0) return UnknownVersion;
        return build < 22000u ? "Microsoft Windows 10 " : "Microsoft Windows 11 ";
    }
    for (const VersionRow& row : VersionTable) {
        if (row.major == major && row.minor == minor) return row.text;
    }
    return UnknownVersion;
}

WindowOrigin CentredWindowOrigin(int fullScreenWidth, int fullScreenHeight) {
    return WindowOrigin{fullScreenWidth / 2 - MainWindowWidth / 2, fullScreenHeight / 2 - MainWindowHeight / 2};
}
