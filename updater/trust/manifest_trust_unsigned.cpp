// An unsigned build uses every file list that arrives; main thread, at start-up.
#include "updater/trust/manifest_trust.h"

#include <stdio.h>

#include "common/file.h"
#include "common/log.h"
#include "updater/net/downloader.h"
#include "updater/net/mirror_list.h"

void PrepareManifestFetch() {}

bool ManifestTrusted(bool) {
    return true;
}

bool ManifestEntriesTrusted(const Manifest&, std::vector<FileFingerprint>&) {
    return true;
}

std::vector<std::string> TrustedMirrors() {
    std::vector<std::string> bases, lines;
    remove(MirrorListName);
    // No list at all is the usual case: the publisher has no mirror.
    if (!DownloadFile(MirrorListName, MaxMirrorListSize, nullptr, &lines)) return bases;
    std::string text;
    char problem[LogFileLineSize];
    bool read = ReadSmallFile(MirrorListName, MaxMirrorListSize, text);
    remove(MirrorListName);
    if (!read) snprintf(problem, sizeof problem, "could not be read");
    if (!read || !ReadMirrorList(text.data(), text.size(), &bases, problem, sizeof problem)) {
        snprintf(LogMessageBuffer, LogMessageBufferSize, "Mirror list refused: " MirrorListName " %s", problem);
        LogLine(LogMessageBuffer);
        bases.clear();
    }
    return bases;
}
