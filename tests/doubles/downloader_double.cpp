// Fake downloader: records each call and writes or fails as the test asks; called from the update run's transfer threads.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "doubles/doubles.h"
#include "updater/net/downloader.h"

static std::mutex DoubleLock;

static bool ParentExists(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return true;
    struct stat info;
    return stat(path.substr(0, slash).c_str(), &info) == 0 && (info.st_mode & S_IFDIR);
}

bool FetchFile(const FetchRequest& request, std::vector<std::string>& lines) {
    const char* path = request.path;
    bool ok;
    int delay;
    {
        std::lock_guard<std::mutex> guard(DoubleLock);
        RecordedEvents.push_back(std::string("download: ") + path + " " +
                                 (request.expectedDigest ? request.expectedDigest : "-"));
        DownloadParentExisted.push_back(ParentExists(path));
        ok = FailingDownloads.count(path) == 0;
        delay = DownloadDelayMs.count(path) ? DownloadDelayMs[path] : 0;
    }
    if (delay) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (ok) {
        FILE* file = fopen(path, "wb");
        if (file) {
            fputs(path, file);
            fclose(file);
        }
        ok = file != nullptr;
    }
    char line[300];
    snprintf(line, sizeof line, ok ? "Download: %s complete." : "Download: %s, error: 2", path);
    lines.push_back(line);
    return ok;
}

void EmptyStagingFolder(const std::function<bool(const char*)>&) { RecordedEvents.push_back("staging: emptied"); }

void RemoveStagingFolder(const std::function<bool(const char*)>&) { RecordedEvents.push_back("staging: removed"); }

// No test file reaches the patch threshold: a range or an install asked for is a fault of the test.
const char* FetchRange(const char*, const char*, const ByteRange&, uint64_t, const char*) {
    return "no ranges in the tests";
}

void UseRunHosts(HostChoice*) {}
int RunHostsInUse() { return 1; }

std::string PreferredBase(const FetchRequest& request) { return request.base ? request.base : ""; }
const char* FetchRangesAtOnce(const char*, const char*, const ByteRange*, size_t, uint64_t, RangeOutput&, bool*) {
    return "no ranges in the tests";
}

AttemptVerdict InstallChecked(const FetchRequest&, const char*, const char*, char*, long* lastError, StreamDigests*) {
    *lastError = 0;
    return {TransferLocalError, LineError};
}
