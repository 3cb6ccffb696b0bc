// Fake downloader: records each call and writes or fails as the test asks; used by the unit tests' one thread.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "doubles/doubles.h"
#include "common/log.h"
#include "updater/downloader.h"

static bool ParentExists(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return true;
    struct stat info;
    return stat(path.substr(0, slash).c_str(), &info) == 0 && (info.st_mode & S_IFDIR);
}

bool DownloadFile(const char* path, const char* expectedDigest) {
    RecordedEvents.push_back(std::string("download: ") + path + " " + (expectedDigest ? expectedDigest : "-"));
    DownloadParentExisted.push_back(ParentExists(path));
    bool ok = FailingDownloads.count(path) == 0;
    if (ok) {
        FILE* file = fopen(path, "wb");
        if (file) {
            fputs(path, file);
            fclose(file);
        }
        ok = file != nullptr;
    }
    snprintf(LogMessageBuffer, LogMessageBufferSize, ok ? "Download: %s complete." : "Download: %s, error: 2", path);
    LogLine(LogMessageBuffer);
    return ok;
}

void EmptyStagingFolder() { RecordedEvents.push_back("staging: emptied"); }

void RemoveStagingFolder() { RecordedEvents.push_back("staging: removed"); }
