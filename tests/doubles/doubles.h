// Test doubles for the log, the window side of the update run and the downloader; the fake downloader runs on the update run's transfer threads, the rest on the test's thread.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "updater/update_run.h"

// Everything the doubles saw, in order: "log: <line>", "file: <line>", "pending: <n>", "finished: <n>",
// "ended", "download: <path> <expected digest>", "staging: emptied", "staging: removed".
extern std::vector<std::string> RecordedEvents;

// An update run's observer that records what the run reports.
class RecordingObserver : public UpdateObserver {
public:
    void FilesPending(int count) override;
    void FilesFinished(int count) override;
    void RunEnded() override;
};

// Paths whose fake download fails; every other fake download succeeds and writes the path's
// own name into the file.
extern std::set<std::string> FailingDownloads;

// Milliseconds a fake download of the path takes (none when absent).
extern std::map<std::string, int> DownloadDelayMs;

// Parent folders seen as existing at the moment of each fake download, one flag per call.
extern std::vector<bool> DownloadParentExisted;

// Clears everything recorded and every configured failure.
void ResetDoubles();

// The recorded events whose text starts with prefix, with the prefix removed.
std::vector<std::string> RecordedWith(const std::string& prefix);
