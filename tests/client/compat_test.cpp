// Path of Client.exe built from the launcher's own path, up to the 260-byte limit.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "client/compat.h"

namespace {

struct PathCase {
    std::string modulePath;
    bool fits;
    std::string clientPath;
};

// 248 characters of folder: with "\Client.exe" 259 characters, the longest path that fits.
const std::string LongFolder = "C:\\" + std::string(245, 'g');

const PathCase PathCases[] = {
    {"C:\\Games\\Quorvane\\Launcher.exe", true, "C:\\Games\\Quorvane\\Client.exe"},
    {"C:\\Games\\Quorvane\\Client.exe", true, "C:\\Games\\Quorvane\\Client.exe"},
    {"C:\\Games\\Quorvane\\x.exe", true, "C:\\Games\\Quorvane\\Client.exe"},
    {"C:\\Launcher.exe", true, "C:\\Client.exe"},
    {"\\\\server\\share\\Launcher.exe", true, "\\\\server\\share\\Client.exe"},
    {"C:\\My Games\\v1.2\\", true, "C:\\My Games\\v1.2\\Client.exe"},
    {"Launcher.exe", true, "Launcher.exe\\Client.exe"},
    {"Z:/tmp/game/Launcher.exe", true, "Z:/tmp/game/Launcher.exe\\Client.exe"},
    {"", false, ""},
    {LongFolder + "\\L.exe", true, LongFolder + "\\Client.exe"},
    {LongFolder + "g\\L.exe", false, ""},
    {LongFolder + "\\" + std::string(5, 'n'), true, LongFolder + "\\Client.exe"},
    {std::string(248, 'a'), true, std::string(248, 'a') + "\\Client.exe"},
    {std::string(249, 'a'), false, ""},
    {std::string(400, 'a'), false, ""},
};

TEST(BuildClientPath, CutsBeforeTheLastBackslashAndFitsIn260Bytes) {
    for (const PathCase& c : PathCases) {
        // A guard zone after the 260 bytes shows any write past the end.
        char buffer[ClientPathSize + 16];
        memset(buffer, '#', sizeof buffer);
        bool fits = BuildClientPath(c.modulePath.c_str(), buffer, ClientPathSize);
        EXPECT_EQ(c.fits, fits) << c.modulePath;
        if (fits) {
            EXPECT_EQ(c.clientPath, buffer) << c.modulePath;
            EXPECT_LE(strlen(buffer) + 1, (size_t)ClientPathSize);
        }
        for (size_t i = ClientPathSize; i < sizeof buffer; ++i) ASSERT_EQ('#', buffer[i]) << c.modulePath;
    }
}

TEST(BuildClientPath, RefusesMissingInputAndSmallBuffers) {
    char buffer[32];
    EXPECT_FALSE(BuildClientPath(nullptr, buffer, sizeof buffer));
    EXPECT_FALSE(BuildClientPath("C:\\a\\L.exe", nullptr, 0));
    EXPECT_FALSE(BuildClientPath("C:\\a\\L.exe", buffer, 0));
    // "C:\a\Client.exe" is 15 characters: it needs 16 bytes.
    EXPECT_FALSE(BuildClientPath("C:\\a\\L.exe", buffer, 15));
    EXPECT_TRUE(BuildClientPath("C:\\a\\L.exe", buffer, 16));
    EXPECT_STREQ("C:\\a\\Client.exe", buffer);
}

}  // namespace
