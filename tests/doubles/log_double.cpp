// Recording stand-ins for the activity log and the update run's observer; used by the unit tests' one thread.
#include "doubles/doubles.h"

#include "common/log.h"
#include "updater/update_run.h"

std::vector<std::string> RecordedEvents;
std::set<std::string> FailingDownloads;
std::vector<bool> DownloadParentExisted;
std::map<std::string, int> DownloadDelayMs;

void ResetDoubles() {
    RecordedEvents.clear();
    FailingDownloads.clear();
    DownloadParentExisted.clear();
    DownloadDelayMs.clear();
}

std::vector<std::string> RecordedWith(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& event : RecordedEvents) {
        if (event.compare(0, prefix.size(), prefix) == 0) found.push_back(event.substr(prefix.size()));
    }
    return found;
}

void LogLine(const char* message) {
    RecordedEvents.push_back(std::string("log: ") + message);
}

void AppendLogFile(const char* message) {
    RecordedEvents.push_back(std::string("file: ") + message);
}

void LogLines(const std::vector<LogBatchLine>& lines) {
    for (const LogBatchLine& line : lines) {
        if (line.fileOnly) AppendLogFile(line.text.c_str());
        else LogLine(line.text.c_str());
    }
}

void RecordingObserver::FilesPending(int count) {
    RecordedEvents.push_back("pending: " + std::to_string(count));
}

void RecordingObserver::FilesFinished(int count) {
    RecordedEvents.push_back("finished: " + std::to_string(count));
}

void RecordingObserver::RunEnded() {
    RecordedEvents.push_back("ended");
}
