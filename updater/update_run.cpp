// The update run: digests every manifest entry, lists and downloads what differs; runs on the UpdateWorker thread.
#include "updater/update_run.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/log.h"
#include "common/text.h"
#include "updater/sha1.h"
#include "updater/net/downloader.h"
#include "updater/helper_thread.h"
#include "updater/manifest.h"
#include "updater/delta/patch.h"
#include "updater/trust/signature.h"

// The double slashes are part of the names as they are passed to the platform; every parent
// comes before its children, so a single-level create is enough for each.
const char* const DataDirectories[DataDirectoryCount] = {
    "contents",
    "contents//friends",
    "contents//items",
    "contents//items//builds",
    "contents//items//shops",
    "contents//magics",
    "contents//msgs",
    "contents//msgs//events",
    "contents//msgs//events//morvant_msgs",
    "contents//msgs//events//sundraval_msgs",
    "contents//msgs//events//tervallion_msgs",
    "contents//mutes",
    "contents//news",
    "contents//skills",
    "mapdata",
    "music",
    "sounds",
    "fonts",
    "language",
    "save",
    "shader",
    "sprites",
    "sprites//effects",
    "sprites//items",
    "sprites//items//M",
    "sprites//items//W",
    "sprites//maps",
    "sprites//npcs",
    "sprites//objects",
    "sprites//players",
    "sprites//ui",
};

volatile unsigned char UpdateFinished;
bool ManifestFetched;
bool ManifestRefused;
const FileFingerprint* EntryFingerprints;
int TransferSlots = MaxTransferSlots;
int RunningProgramEntry = -1;

// Manifest index of each pending path, so its download can be checked against the expected digest.
static int PendingEntry[MaxManifestEntries];

static void MakeDirectory(const char* path) {
#ifdef _WIN32
    _mkdir(path);
#else
    mkdir(path, 0777);
#endif
}

// Creates the missing parent directories of a relative path, one level at a time. Manifest paths
// were checked when the manifest was read, so these all lie inside the game folder.
static void MakeParentDirectories(const char* path) {
    char prefix[PathSlotSize];
    size_t length = strnlen(path, PathSlotSize - 1);
    for (size_t i = 0; i < length; ++i) {
        if ((path[i] == '/' || path[i] == '\\') && i > 0 && path[i - 1] != '/' && path[i - 1] != '\\') {
            memcpy(prefix, path, i);
            prefix[i] = '\0';
            MakeDirectory(prefix);
        }
    }
}

// Whether the list in use names a file of this digest.
static bool IsListedDigest(const char* digest) {
    for (int j = 0; j < EntryCount; ++j) {
        if (EqualIgnoringCase(ExpectedDigest[j], digest)) return true;
    }
    return false;
}

static const char* EntryPathOf(int index) {
    return EntryPath[index];
}

// Called on the worker in manifest order, with DigestText as digesting the entries one by one leaves it.
static void RecordLocalDigest(int index, int error) {
    if (DigestText[0] == '-') {
        snprintf(LogMessageBuffer, LogMessageBufferSize, "{Error: %s %s}", strerror(error), EntryPath[index]);
        LogLine(LogMessageBuffer);
    }
    memset(LocalDigest[index], 0, DigestSlotSize);
    snprintf(LocalDigest[index], DigestSlotSize, "%s", DigestText);
}

void CheckFiles() {
    // Whatever an interrupted run left in the staging folder goes first, but for the partial
    // bodies of files the list still names, which are resumed.
    EmptyStagingFolder(IsListedDigest);
    memset(LogMessageBuffer, 0, LogMessageBufferSize);
    // A helper thread digests files ahead while this one reports them, so both cores read and hash.
    DigestFilesInOrder(EntryCount, EntryPathOf, RecordLocalDigest);
    LogLine("Checking files...");

    int pending = 0;
    for (int j = 0; j < EntryCount; ++j) {
        if (strcmp(LocalDigest[j], ExpectedDigest[j]) == 0) continue;
        snprintf(LogMessageBuffer, LogMessageBufferSize, "File %s needs updating", EntryPath[j]);
        LogLine(LogMessageBuffer);
        // The digests go to the log file only, where they help whoever investigates. Each text is
        // bounded by its slot, so the line stays within 404 characters.
        snprintf(LogMessageBuffer, LogMessageBufferSize, "File %.199s HASH (%.149s - %.149s)", EntryPath[j],
                 LocalDigest[j], ExpectedDigest[j]);
        AppendLogFile(LogMessageBuffer);
        snprintf(PendingPath[pending], PathSlotSize, "%s", EntryPath[j]);
        PendingEntry[pending] = j;
        ++pending;
    }
    PendingCount = pending;
    SetProgressRange(pending);
    DownloadPending();
}

// The transfer of pending file i: its listed digest and, in a signed build, its signed length and
// SHA-256; game-file bounds; the digest's occurrence among the pending files before it.
static FetchRequest PendingRequest(int i) {
    int entry = PendingEntry[i];
    int occurrence = 0;
    for (int k = 0; k < i; ++k) {
        if (EqualIgnoringCase(ExpectedDigest[PendingEntry[k]], ExpectedDigest[entry])) ++occurrence;
    }
    return FetchRequest{PendingPath[i], ExpectedDigest[entry], EntryFingerprints ? &EntryFingerprints[entry] : nullptr,
                        nullptr, GameFileLimits(DownloadTimeoutSeconds), occurrence};
}

// Fetches pending file i; its lines go to lines.
static bool FetchPendingFile(int i, std::vector<std::string>& lines) {
    if (PendingEntry[i] == RunningProgramEntry) {
        char line[PathSlotSize + 80];
        snprintf(line, sizeof line, "Download: %s skipped: the running launcher can be replaced only at its start.",
                 PendingPath[i]);
        lines.push_back(line);
        return false;
    }
    MakeParentDirectories(PendingPath[i]);
    FetchRequest request = PendingRequest(i);
    // A large local copy is patched from the file's block index when it can be; any problem falls back, once,
    // to the whole file.
    if (PatchApplies(FileLength(PendingPath[i]))) {
        const char* problem = PatchFile(request, lines);
        if (!problem) return true;
        char line[PathSlotSize + 160];
        FormatPatchFallbackLine(line, sizeof line, PendingPath[i], problem);
        lines.push_back(line);
    }
    return FetchFile(request, lines);
}

// One pending file after its transfer: its lines wait until every file before it has logged its own.
struct Outcome {
    bool done = false;
    bool installed = false;
    std::vector<std::string> lines;
};

// The least time between two counts shown on the progress bar while files finish.
static const int ProgressIntervalMs = 100;

// Fetches every pending file with up to TransferSlots transfers in flight. Lines are logged in the
// pending (manifest) order; the progress bar counts files as they end, in any order. Returns the
// number of files that could not be installed.
static int FetchPending() {
    const int count = PendingCount;
    int failed = 0;
    if (TransferSlots <= 1) {
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> lines;
            if (!FetchPendingFile(i, lines)) ++failed;
            for (const std::string& line : lines) LogLine(line.c_str());
            SetProgressPos(i + 1);
        }
        return failed;
    }

    std::vector<Outcome> outcomes(count);
    std::mutex lock;
    std::condition_variable changed;
    int next = 0, finished = 0;
    auto transfer = [&] {
        for (;;) {
            int i;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (next >= count) return;
                i = next++;
            }
            std::vector<std::string> lines;
            bool installed = FetchPendingFile(i, lines);
            {
                std::lock_guard<std::mutex> guard(lock);
                outcomes[i].lines.swap(lines);
                outcomes[i].installed = installed;
                outcomes[i].done = true;
                ++finished;
            }
            changed.notify_one();
        }
    };
    std::vector<HelperThread*> threads;
    auto runTransfers = [](void* argument) { (*(decltype(transfer)*)argument)(); };
    for (int t = 0; t < std::min(TransferSlots, count); ++t) {
        if (HelperThread* thread = StartHelperThread(runTransfers, &transfer)) threads.push_back(thread);
    }
    // Without any thread the files are fetched here, one after another.
    if (threads.empty()) transfer();

    // The bar shows a new count at most every ProgressIntervalMs (and the last one at once): under Wine
    // each change repaints it through the window's thread at the cost of a small file's transfer.
    const auto interval = std::chrono::milliseconds(ProgressIntervalMs);
    auto lastShown = std::chrono::steady_clock::now() - interval;
    int logged = 0, shown = 0, seen = 0;
    while (logged < count || shown < count) {
        std::vector<std::string> ready;
        int nowFinished;
        {
            std::unique_lock<std::mutex> guard(lock);
            auto more = [&] { return finished > seen; };
            if (shown < seen) {
                changed.wait_until(guard, lastShown + interval, more);
            } else {
                changed.wait(guard, more);
            }
            for (; logged < count && outcomes[logged].done; ++logged) {
                for (std::string& line : outcomes[logged].lines) ready.push_back(std::move(line));
                if (!outcomes[logged].installed) ++failed;
            }
            nowFinished = seen = finished;
        }
        // Logged and shown outside the lock: both wait for the main thread, which the transfers never do.
        for (const std::string& line : ready) LogLine(line.c_str());
        const auto now = std::chrono::steady_clock::now();
        if (shown < nowFinished && (nowFinished == count || now - lastShown >= interval)) {
            shown = nowFinished;
            lastShown = now;
            SetProgressPos(shown);
        }
    }
    for (HelperThread* thread : threads) JoinHelperThread(thread);
    return failed;
}

void DownloadPending() {
    for (const char* directory : DataDirectories) MakeDirectory(directory);
    LogLine("Checking for updates...");
    int failed = FetchPending();
    RemoveStagingFolder(IsListedDigest);

    // Success is claimed only when the file list arrived whole and every pending file was installed.
    if (!ManifestFetched) {
        LogLine("Update incomplete: the file list could not be downloaded");
    } else if (ManifestRefused) {
        LogLine("Update incomplete: the file list was refused");
    } else if (failed > 0) {
        snprintf(LogMessageBuffer, LogMessageBufferSize, "Update incomplete: %d of %d files could not be updated",
                 failed, PendingCount);
        LogLine(LogMessageBuffer);
    } else if (ManifestLinesRefused > 0) {
        // The files those lines named were not checked, so the folder may still lack them.
        LogLine("Update incomplete: some entries of the file list were refused");
    } else {
        LogLine("All files up to date");
    }
    EnablePlayButton();
    UpdateFinished = 1;
    SetProgressRange(5);
    SetProgressPos(5);
}
