// The update run with fake log, window side and downloader: line order, progress, pending list, end lines, folders.
#include <gtest/gtest.h>
#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "doubles/doubles.h"
#include "tests/temp_folder.h"
#include "updater/sha1.h"
#include "updater/manifest.h"
#include "updater/update_run.h"

namespace {

const std::string AbcDigest = "a9993e364706816aba3e25717850c26c9cd0d89d";  // SHA-1 of "abc"
const std::string EmptyDigest = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

}  // namespace

class UpdateRun : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        ResetDoubles();
        plan.transferSlots = 1;  // one file after another: a fixed order of every event
        plan.listFetched = true;
        memset(DigestText, 0, sizeof DigestText);
    }
    void SetManifest(const std::vector<std::pair<std::string, std::string>>& entries) {
        plan.manifest = Manifest{};
        for (const auto& entry : entries) {
            plan.manifest.entries.emplace_back();
            snprintf(plan.manifest.entries.back().path, PathSlotSize, "%s", entry.first.c_str());
            snprintf(plan.manifest.entries.back().digest, DigestSlotSize, "%s", entry.second.c_str());
        }
    }
    void CheckFiles() { RunUpdate(plan, observer); }

    UpdatePlan plan;
    RecordingObserver observer;
};

TEST_F(UpdateRun, UpToDateFolderDownloadsNothing) {
    WriteFile("a.txt", "abc");
    WriteFile("empty.bin", "");
    SetManifest({{"a.txt", AbcDigest}, {"empty.bin", EmptyDigest}});
    CheckFiles();
    EXPECT_EQ((std::vector<std::string>{"staging: emptied", "log: Checking files...", "pending: 0",
                                        "log: Checking for updates...", "staging: removed",
                                        "log: All files up to date", "ended"}),
              RecordedEvents);
}

TEST_F(UpdateRun, ListsAndDownloadsWhatDiffersInOrder) {
    WriteFile("same.txt", "abc");
    WriteFile("changed.txt", "abd");
    SetManifest({{"missing.txt", AbcDigest},
                 {"same.txt", AbcDigest},
                 {"changed.txt", AbcDigest},
                 {"upper.txt", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
                 {"missing.txt", AbcDigest}});
    WriteFile("upper.txt", "abc");
    CheckFiles();

    const std::string noFile = strerror(ENOENT);
    // The changed file's digest, taken with sha1sum.
    const std::string abd = "cb4cc28df0fdbe0ecf9d9662e294b118092a5735";
    EXPECT_EQ((std::vector<std::string>{
                  "staging: emptied",
                  "log: {Error: " + noFile + " missing.txt}",
                  "log: {Error: " + noFile + " missing.txt}",
                  "log: Checking files...",
                  "log: File missing.txt needs updating",
                  "file: File missing.txt HASH (- - " + AbcDigest + ")",  // the first digest of the process
                  "log: File changed.txt needs updating",
                  "file: File changed.txt HASH (" + abd + " - " + AbcDigest + ")",
                  "log: File upper.txt needs updating",
                  "file: File upper.txt HASH (" + AbcDigest + " - A9993E364706816ABA3E25717850C26C9CD0D89D)",
                  "log: File missing.txt needs updating",
                  "file: File missing.txt HASH (-" + AbcDigest.substr(1) + " - " + AbcDigest + ")",
                  "pending: 4",
                  "log: Checking for updates...",
                  "download: missing.txt " + AbcDigest,
                  "log: Download: missing.txt complete.",
                  "finished: 1",
                  "download: changed.txt " + AbcDigest,
                  "log: Download: changed.txt complete.",
                  "finished: 2",
                  "download: upper.txt A9993E364706816ABA3E25717850C26C9CD0D89D",
                  "log: Download: upper.txt complete.",
                  "finished: 3",
                  "download: missing.txt " + AbcDigest,
                  "log: Download: missing.txt complete.",
                  "finished: 4",
                  "staging: removed",
                  "log: All files up to date",
                  "ended",
              }),
              RecordedEvents);
}

TEST_F(UpdateRun, CreatesTheDataFoldersAndEachTargetsParents) {
    SetManifest({{"contents/news/today.txt", AbcDigest}, {"newdir/sub\\deep/file.bin", AbcDigest}, {"top.bin", AbcDigest}});
    CheckFiles();
    for (const char* directory : DataDirectories) EXPECT_TRUE(IsDirectory(directory)) << directory;
    EXPECT_TRUE(IsDirectory("contents/msgs/events/tervallion_msgs"));
    EXPECT_TRUE(IsDirectory("sprites/items/W"));
    EXPECT_EQ((std::vector<bool>{true, true, true}), DownloadParentExisted);
    EXPECT_TRUE(IsDirectory("newdir/sub\\deep"));  // one folder on Windows, two elsewhere
}

TEST_F(UpdateRun, EmptyManifestStillEndsTheRun) {
    SetManifest({});
    CheckFiles();
    EXPECT_EQ((std::vector<std::string>{"staging: emptied", "log: Checking files...", "pending: 0",
                                        "log: Checking for updates...", "staging: removed",
                                        "log: All files up to date", "ended"}),
              RecordedEvents);
    EXPECT_TRUE(IsDirectory("sprites//ui"));
}

TEST_F(UpdateRun, ReportsAnIncompleteUpdate) {
    SetManifest({{"a.bin", AbcDigest}, {"b.bin", AbcDigest}, {"c.bin", AbcDigest}});
    FailingDownloads = {"b.bin"};
    CheckFiles();
    std::vector<std::string> lines = RecordedWith("log: ");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Update incomplete: 1 of 3 files could not be updated", lines.back());
    EXPECT_EQ(0u, RecordedWith("log: All files").size());
    // The end of the run is otherwise unchanged.
    std::vector<std::string> tail(RecordedEvents.end() - 2, RecordedEvents.end());
    EXPECT_EQ((std::vector<std::string>{"log: Update incomplete: 1 of 3 files could not be updated", "ended"}), tail);

    // Nor when lines of the file list were refused, though every accepted entry is up to date.
    ResetDoubles();
    SetManifest({});
    plan.manifest.refusedLines = 2;
    CheckFiles();
    lines = RecordedWith("log: ");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Update incomplete: some entries of the file list were refused", lines.back());

    // Without the file list nothing is claimed up to date, even with nothing to download.
    ResetDoubles();
    plan.listFetched = false;
    SetManifest({});
    CheckFiles();
    EXPECT_EQ((std::vector<std::string>{"staging: emptied", "log: Checking files...", "pending: 0",
                                        "log: Checking for updates...", "staging: removed",
                                        "log: Update incomplete: the file list could not be downloaded", "ended"}),
              RecordedEvents);

    // A file list that arrived but was refused is told apart from one that did not arrive.
    ResetDoubles();
    plan.listFetched = true;
    plan.listRefused = true;
    CheckFiles();
    EXPECT_EQ("Update incomplete: the file list was refused", RecordedWith("log: ").back());
}

TEST_F(UpdateRun, ParallelTransfersLogInManifestOrder) {
    plan.transferSlots = 4;
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 12; ++i) {
        std::string path = "f" + std::to_string(i) + ".bin";
        entries.push_back({path, AbcDigest});
        DownloadDelayMs[path] = (12 - i) * 15;  // the later a file is listed, the sooner it ends
    }
    FailingDownloads = {"f5.bin"};
    SetManifest(entries);
    CheckFiles();

    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        expected.push_back(i == 5 ? "Download: f5.bin, error: 2" : "Download: f" + std::to_string(i) + ".bin complete.");
    }
    std::vector<std::string> lines;
    for (const std::string& line : RecordedWith("log: ")) {
        if (line.compare(0, 9, "Download:") == 0) lines.push_back(line);
    }
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(12u, RecordedWith("download: ").size());  // each file requested once
    std::vector<std::string> positions = RecordedWith("finished: ");
    ASSERT_GE(positions.size(), 1u);
    EXPECT_EQ("12", positions.back());
    EXPECT_EQ("Update incomplete: 1 of 12 files could not be updated", RecordedWith("log: ").back());
}
