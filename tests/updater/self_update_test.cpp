// Self-update decisions: which entry is the running program, and when it is replaced.
#include <gtest/gtest.h>

#include "updater/self_update.h"

TEST(SelfUpdate, FindsTheProgramOnlyInItsOwnFolder) {
    const char paths[][PathSlotSize] = {"Client.exe", "bin/Launcher.exe", "launcher.EXE"};
    struct Case {
        const char* module;
        const char* directory;
        int entry;  // -1: no self-update
    } cases[] = {
        {"C:\\Games\\Quorvane\\Launcher.exe", "c:\\games\\quorvane\\", 2},  // names compared without case
        {"C:\\Launcher.exe", "C:\\", 2},
        {"C:\\Games\\Quorvane\\Launcher.exe", "C:\\Games", -1},             // started from another folder
        {"C:\\Games\\Quorvane2\\Launcher.exe", "C:\\Games\\Quorvane", -1},
        {"C:\\Games\\Quorvane\\Game.exe", "C:\\Games\\Quorvane", -1},      // renamed: the list does not name it
    };
    for (const Case& c : cases) {
        int entry = RunsFromDirectory(c.module, c.directory) ? OwnManifestEntry(c.module, paths, 3) : -1;
        EXPECT_EQ(c.entry, entry) << c.module << " in " << c.directory;
    }
    const char* own = "a9993e364706816aba3e25717850c26c9cd0d89d";
    EXPECT_FALSE(NeedsSelfUpdate("A9993E364706816ABA3E25717850C26C9CD0D89D", own));
    EXPECT_TRUE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f1", own));
    EXPECT_FALSE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f", own));  // 39 digits: unchecked
}
