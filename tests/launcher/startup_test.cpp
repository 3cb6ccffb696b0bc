// Version text table and window placement.
#include <gtest/gtest.h>
#include <string>

#include "launcher/startup.h"

TEST(VersionText, FollowsTheVersionTable) {
    struct Case {
        unsigned major, minor, build;
        const char* text;
    } cases[] = {
        {10, 0, 19045, "Microsoft Windows 10 "},
        {10, 0, 21999, "Microsoft Windows 10 "},
        {10, 0, 22000, "Microsoft Windows 11 "},
        {10, 0, 0xFFFFFFFFu, "Microsoft Windows 11 "},  // compared as unsigned
        {10, 1, 19045, "Unknown Windows version "},
        {6, 3, 9600, "Microsoft Windows 8.1 "},
        {6, 2, 9200, "Microsoft Windows 8 "},
        {6, 1, 7601, "Microsoft Windows 7 "},
        {6, 0, 6002, "Microsoft Windows Vista "},
        {6, 4, 0, "Unknown Windows version "},
        {5, 2, 3790, "Microsoft Windows XP 64-Bit Edition "},
        {5, 1, 2600, "Microsoft Windows XP "},
        {5, 0, 2195, "Microsoft Windows 2000 "},
        {5, 3, 0, "Unknown Windows version "},
        {4, 0, 1381, "Unknown Windows version "},
        {11, 0, 0, "Unknown Windows version "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(c.text), VersionText(c.major, c.minor, c.build))
            << c.major << "." << c.minor << " build " << c.build;
    }
}

TEST(CentredWindowOrigin, HalvesTheFullScreenAreaWithoutClamping) {
    WindowOrigin o = CentredWindowOrigin(1024, 738);
    EXPECT_EQ(202, o.x);
    EXPECT_EQ(52, o.y);
    o = CentredWindowOrigin(1023, 739);  // integer halves truncate
    EXPECT_EQ(201, o.x);
    EXPECT_EQ(52, o.y);
    o = CentredWindowOrigin(400, 300);   // smaller than the window: negative, as computed
    EXPECT_EQ(-110, o.x);
    EXPECT_EQ(-167, o.y);
}
