// Self-update decisions: which entry is the running program, when it is replaced, the names of the move.
#include <gtest/gtest.h>

#include <string>

#include "updater/self_update.h"

TEST(SelfUpdate, FindsTheProgramOnlyInItsOwnFolder) {
    const char paths[][PathSlotSize] = {"Client.exe", "bin/Launcher.exe", "launcher.EXE"};
    struct Case {
        const char* module;
        const char* directory;
        int entry;  // -1: no self-update
    } cases[] = {
        {"C:\\Games\\Quorvane\\Launcher.exe", "C:\\Games\\Quorvane", 2},  // names compared without case
        {"C:\\Games\\Quorvane\\Launcher.exe", "c:\\games\\quorvane\\", 2},
        {"C:\\Launcher.exe", "C:\\", 2},
        {"C:\\Games\\Quorvane\\Launcher.exe", "C:\\Games", -1},              // started from another folder
        {"C:\\Games\\Quorvane\\Launcher.exe", "C:\\Games\\Quorvane\\bin", -1},
        {"C:\\Games\\Quorvane2\\Launcher.exe", "C:\\Games\\Quorvane", -1},
        {"C:\\Games\\Quorvane\\Game.exe", "C:\\Games\\Quorvane", -1},       // renamed: the list does not name it
        {"Launcher.exe", "C:\\Games\\Quorvane", -1},
    };
    for (const Case& c : cases) {
        int entry = RunsFromDirectory(c.module, c.directory) ? OwnManifestEntry(c.module, paths, 3) : -1;
        EXPECT_EQ(c.entry, entry) << c.module << " in " << c.directory;
    }
}

TEST(SelfUpdate, ReplacesOnlyWithACheckableDifferentProgram) {
    const char* own = "a9993e364706816aba3e25717850c26c9cd0d89d";
    EXPECT_FALSE(NeedsSelfUpdate("A9993E364706816ABA3E25717850C26C9CD0D89D", own));
    EXPECT_TRUE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f1", own));
    EXPECT_TRUE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f1", ""));  // own file unreadable
    EXPECT_FALSE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f", own));  // 39 digits: unchecked
    EXPECT_FALSE(NeedsSelfUpdate("-", own));

    char staged[40], aside[40];
    ASSERT_TRUE(MakeSelfUpdateNames("Launcher.exe", staged, sizeof staged, aside, sizeof aside));
    EXPECT_EQ(std::string("Launcher staging\\Launcher.exe.new"), staged);
    EXPECT_EQ(std::string("Launcher.exe .old"), aside);
    EXPECT_FALSE(MakeSelfUpdateNames("AVeryLongLauncherName.exe", staged, sizeof staged, aside, sizeof aside));
}
