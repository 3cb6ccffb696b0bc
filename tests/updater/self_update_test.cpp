// Self-update decisions: which entry is the running program, when it is replaced, and the moves that replace it.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/log.h"
#include "doubles/doubles.h"

#include "updater/self_update.h"

TEST(SelfUpdate, FindsTheProgramOnlyInItsOwnFolder) {
    std::vector<ManifestEntry> entries(3);
    const char* const paths[] = {"Client.exe", "bin/Launcher.exe", "launcher.EXE"};
    for (int i = 0; i < 3; ++i) snprintf(entries[i].path, PathSlotSize, "%s", paths[i]);
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
        int entry = RunsFromDirectory(c.module, c.directory) ? OwnManifestEntry(c.module, entries) : -1;
        EXPECT_EQ(c.entry, entry) << c.module << " in " << c.directory;
    }
    const char* own = "a9993e364706816aba3e25717850c26c9cd0d89d";
    EXPECT_FALSE(NeedsSelfUpdate("A9993E364706816ABA3E25717850C26C9CD0D89D", own));
    EXPECT_TRUE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f1", own));
    EXPECT_FALSE(NeedsSelfUpdate("84983e441c3bd26ebaae4aa1f95129e5e54670f", own));  // 39 digits: unchecked
}

namespace {

// A folder of named contents whose n-th call of each step can be made to fail; the started program is recorded.
class FakeSystem : public SelfUpdateSystem {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> failing;  // "move1", "move2", "move3", "copy1", "start1", "release1"
    std::string running;            // what the started program holds, once released
    bool held = false;

    bool Move(const char* from, const char* to, bool replace) override {
        if (Fails("move") || !files.count(from) || (!replace && files.count(to))) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    bool Copy(const char* from, const char* to) override {
        if (Fails("copy") || !files.count(from)) return false;
        files[to] = files[from];
        return true;
    }
    void Discard(const char* path) override { files.erase(path); }
    bool StartHeld(const char* path) override {
        if (Fails("start") || !files.count(path)) return false;
        held = true;
        startedWith = files[path];
        LogLine("(started)");
        return true;
    }
    bool ReleaseStarted() override {
        if (Fails("release")) return false;
        running = startedWith;
        return true;
    }
    void EndStarted() override { held = false; }
    std::string LastErrorText() override { return "Access is denied (error 5)"; }

private:
    bool Fails(const std::string& step) { return failing.count(step + std::to_string(++calls[step])) > 0; }
    std::map<std::string, int> calls;
    std::string startedWith;
};

}  // namespace

TEST(SelfUpdate, NeverLosesTheProgramWhateverStepFails) {
    const std::string module = "C:\\game\\Launcher.exe", staged = "Launcher staging\\Launcher.exe.new",
                      aside = "Launcher.exe .old";
    const char* const steps[] = {"move1", "move2", "move3", "copy1", "start1", "release1"};
    // Every combination of failing steps.
    for (int mask = 0; mask < 1 << 6; ++mask) {
        FakeSystem system;
        system.files = {{module, "old"}, {staged, "new"}};
        for (int i = 0; i < 6; ++i) {
            if (mask & (1 << i)) system.failing.insert(steps[i]);
        }
        ResetDoubles();
        bool started = PutNewProgramInPlace(module.c_str(), staged.c_str(), aside.c_str(), system);
        const std::vector<std::string> lines = RecordedWith("log: ");
        const std::string where = "mask " + std::to_string(mask);
        if (started) {
            EXPECT_EQ("new", system.running) << where;
            EXPECT_EQ("old", system.files[aside]) << where;
            // Logged once the new program exists, before it runs and logs its own lines.
            EXPECT_EQ((std::vector<std::string>{"(started)", "Launcher updated, restarting."}), lines) << where;
            continue;
        }
        EXPECT_EQ("", system.running) << where;
        EXPECT_FALSE(system.held) << where;
        auto notUpdated = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("Launcher not updated: ", 0) == 0;
        });
        ASSERT_NE(lines.end(), notUpdated) << where;
        // Only a started program that could not be let run was announced, and the next line takes it back.
        auto restarting = std::find(lines.begin(), lines.end(), "Launcher updated, restarting.");
        if (restarting != lines.end()) {
            EXPECT_EQ(restarting + 1, notUpdated) << where;
        }
        if (system.files[module] == "old") continue;
        // The old program could not be brought back: the last line says where each one is, and it is so.
        const std::string& last = lines.back();
        EXPECT_EQ(0u, last.rfind("Launcher not restored: ", 0)) << where << ": " << last;
        EXPECT_EQ("old", system.files[aside]) << where;
        EXPECT_NE(std::string::npos, last.find("the previous program is " + aside)) << where << ": " << last;
        const std::string newAt = last.substr(last.find(", the new one ") + 14);
        EXPECT_EQ("new", system.files[newAt]) << where << ": " << last;
    }
}
