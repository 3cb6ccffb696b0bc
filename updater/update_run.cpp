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
#include <set>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "updater/sha1.h"
#include "common/file.h"
#include "updater/net/downloader.h"
#include "updater/net/host_choice.h"
#include "updater/net/progress.h"
#include "updater/helper_thread.h"
#include "updater/manifest.h"
#include "updater/delta/patch.h"

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

static void MakeDirectory(const char* path) {
#ifdef _WIN32
    _mkdir(path);
#else
    mkdir(path, 0777);
#endif
}

// The directories a run made or found already, so that each is asked for once per run rather than once per file:
// under Wine every create costs a request to its server, which every transfer waits on.
struct MadeDirectories {
    std::mutex lock;
    std::set<std::string> made;

    // Creates the missing parent directories of a relative path, one level at a time. Manifest paths
    // were checked when the manifest was read, so these all lie inside the game folder.
    void MakeParentsOf(const char* path) {
        char prefix[PathSlotSize];
        size_t length = strnlen(path, PathSlotSize - 1);
        for (size_t i = 0; i < length; ++i) {
            if ((path[i] == '/' || path[i] == '\\') && i > 0 && path[i - 1] != '/' && path[i - 1] != '\\') {
                memcpy(prefix, path, i);
                prefix[i] = '\0';
                // Made under the lock, so that no other file's transfer takes it as made before it is.
                std::lock_guard<std::mutex> guard(lock);
                if (made.insert(prefix).second) MakeDirectory(prefix);
            }
        }
    }
};

namespace {

// One run of a plan: the local digest of every entry and the entries that differ, in manifest order.
struct Run {
    const UpdatePlan& plan;
    UpdateObserver& observer;
    std::vector<ManifestEntry> const& entries;
    std::vector<std::string> localDigests;
    std::vector<int> pending;
    mutable MadeDirectories directories;

    Run(const UpdatePlan& p, UpdateObserver& o) : plan(p), observer(o), entries(p.manifest.entries) {}

    // Whether the list in use names a file of this digest.
    bool IsListedDigest(const char* digest) const {
        for (const ManifestEntry& entry : entries) {
            if (EqualIgnoringCase(entry.digest, digest)) return true;
        }
        return false;
    }

    void CheckFiles();
    bool SpaceEnough() const;
    FetchRequest PendingRequest(int i) const;
    bool FetchPendingFile(int i, std::vector<std::string>& lines) const;
    int FetchPending();
    void DownloadPending();
};

// Lines of the check logged at a time at most, so that the list shows a long check's errors as they come.
const size_t LogBatchSize = 64;

void Run::CheckFiles() {
    // Whatever an interrupted run left in the staging folder goes first, but for the partial
    // bodies of files the list still names, which are resumed.
    auto listed = [this](const char* digest) { return IsListedDigest(digest); };
    EmptyStagingFolder(listed);
    memset(LogMessageBuffer, 0, LogMessageBufferSize);
    // A helper thread digests files ahead while this one reports them, so both cores read and hash. Each
    // report sees DigestText as digesting the entries one by one leaves it.
    localDigests.assign(entries.size(), std::string());
    // Lines are logged in batches, each with one open of the log file: a first install logs some for every file.
    std::vector<LogBatchLine> batch;
    DigestFilesInOrder(
        (int)entries.size(), [this](int index) { return entries[index].path; },
        [this, &batch](int index, int error) {
            if (DigestText[0] == '-') {
                snprintf(LogMessageBuffer, LogMessageBufferSize, "{Error: %s %s}", strerror(error),
                         entries[index].path);
                batch.push_back({LogMessageBuffer, false});
                if (batch.size() >= LogBatchSize) {
                    LogLines(batch);
                    batch.clear();
                }
            }
            localDigests[index] = DigestText;
        });
    batch.push_back({"Checking files...", false});

    for (size_t j = 0; j < entries.size(); ++j) {
        if (localDigests[j] == entries[j].digest) continue;
        snprintf(LogMessageBuffer, LogMessageBufferSize, "File %s needs updating", entries[j].path);
        batch.push_back({LogMessageBuffer, false});
        // The digests go to the log file only, where they help whoever investigates. Each text is
        // bounded by its slot, so the line stays within 404 characters.
        snprintf(LogMessageBuffer, LogMessageBufferSize, "File %.199s HASH (%.149s - %.149s)", entries[j].path,
                 localDigests[j].c_str(), entries[j].digest);
        batch.push_back({LogMessageBuffer, true});
        pending.push_back((int)j);
    }
    LogLines(batch);
    // The bytes to come: the signed lengths where the build has them, else each answer's as it arrives.
    RunMeter.Reset();
    for (int entry : pending) {
        if (!plan.fingerprints.empty()) RunMeter.AddToTotal(plan.fingerprints[entry].length);
    }
    observer.FilesPending((int)pending.size());
    DownloadPending();
}

// Whether the game folder's volume holds what the pending files need before any of them replaces its old copy;
// logs the shortfall otherwise. Without lengths (an unsigned build) only what is known counts: the transfers then
// keep the volume's reserve as the bodies arrive.
bool Run::SpaceEnough() const {
    std::vector<SpaceItem> items;
    for (size_t i = 0; i < pending.size(); ++i) {
        const ManifestEntry& entry = entries[pending[i]];
        SpaceItem item{plan.fingerprints.empty() ? 0 : plan.fingerprints[pending[i]].length, 0, false};
        FetchRequest request = PendingRequest((int)i);
        char partial[UrlBufferSize];
        if (MakePartialName(request.expectedDigest, request.occurrence, partial, sizeof partial)) {
            item.partialBytes = (uint64_t)std::max(0LL, FileLength(partial));
        }
        item.patched = PatchApplies(FileLength(entry.path));
        items.push_back(item);
    }
    uint64_t needed = SpaceNeeded(items.data(), items.size()), available;
    if (needed == 0 || !FreeDiskSpace(".", &available) || needed + DiskReserveBytes <= available) return true;
    char line[120];
    FormatNoSpaceLine(line, sizeof line, needed + DiskReserveBytes, available);
    LogLine(line);
    return false;
}

// The transfer of pending file i: its listed digest and, in a signed build, its signed length and
// SHA-256; game-file bounds; the digest's occurrence among the pending files before it; a staging slot of its own.
FetchRequest Run::PendingRequest(int i) const {
    int entry = pending[i];
    int occurrence = 0;
    for (int k = 0; k < i; ++k) {
        if (EqualIgnoringCase(entries[pending[k]].digest, entries[entry].digest)) ++occurrence;
    }
    const FileFingerprint* fingerprint = plan.fingerprints.empty() ? nullptr : &plan.fingerprints[entry];
    return FetchRequest{entries[entry].path, entries[entry].digest, fingerprint, nullptr,
                        GameFileLimits(DownloadTimeoutSeconds), occurrence, i};
}

// Fetches pending file i; its lines go to lines.
bool Run::FetchPendingFile(int i, std::vector<std::string>& lines) const {
    const char* path = entries[pending[i]].path;
    if (pending[i] == plan.runningProgramEntry) {
        char line[PathSlotSize + 80];
        snprintf(line, sizeof line, "Download: %s skipped: the running launcher can be replaced only at its start.",
                 path);
        lines.push_back(line);
        return false;
    }
    directories.MakeParentsOf(path);
    // A large local copy is patched from the file's block index when it can be; any problem falls back, once,
    // to the whole file.
    return PatchOrFetchFile(PendingRequest(i), lines);
}

// One pending file after its transfer: its lines wait until every file before it has logged its own.
struct Outcome {
    bool done = false;
    bool installed = false;
    std::vector<std::string> lines;
};

// The least time between two counts shown on the progress bar while files finish.
const int ProgressIntervalMs = 100;

// Fetches every pending file with up to transferSlots transfers in flight. Lines are logged in the
// pending (manifest) order; the progress bar counts files as they end, in any order. Returns the
// number of files that could not be installed.
int Run::FetchPending() {
    const int count = (int)pending.size();
    int failed = 0;
    if (plan.transferSlots <= 1) {
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> lines;
            if (!FetchPendingFile(i, lines)) ++failed;
            for (const std::string& line : lines) LogLine(line.c_str());
            observer.FilesFinished(i + 1);
        }
        return failed;
    }

    // Each host that works has transferSlots transfers of its own, so that two mirrors give nearly twice one; a
    // thread beyond what the hosts still in use allow ends before its next file.
    int hostsAtStart = std::max(1, (int)plan.hosts.size() - (int)plan.hostsPassedOver.size());
    int threadCount = std::min({plan.transferSlots * hostsAtStart, (int)MaxTransfersInFlight, count});
    threadCount = std::max(threadCount, std::min(plan.transferSlots, count));
    std::vector<Outcome> outcomes(count);
    std::mutex lock;
    std::condition_variable changed;
    int next = 0, finished = 0, started = 0;
    auto transfer = [&] {
        int order;
        {
            std::lock_guard<std::mutex> guard(lock);
            order = started++;
        }
        for (;;) {
            if (order >= plan.transferSlots && order >= plan.transferSlots * RunHostsInUse()) return;
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
    for (int t = 0; t < threadCount; ++t) {
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
        std::vector<LogBatchLine> batch;
        for (std::string& line : ready) batch.push_back({std::move(line), false});
        LogLines(batch);
        const auto now = std::chrono::steady_clock::now();
        if (shown < nowFinished && (nowFinished == count || now - lastShown >= interval)) {
            shown = nowFinished;
            lastShown = now;
            observer.FilesFinished(shown);
        }
    }
    for (HelperThread* thread : threads) JoinHelperThread(thread);
    return failed;
}

void Run::DownloadPending() {
    for (const char* directory : DataDirectories) MakeDirectory(directory);
    LogLine("Checking for updates...");
    // Several hosts share the files by their measured rates, starting from the last run's ranking; those start-up
    // passed over start as hosts that failed. One host needs no choice: every file goes to it, as it always did.
    const bool severalHosts = plan.hosts.size() > 1;
    HostChoice hosts(plan.hosts, (int)pending.size());
    if (severalHosts) {
        hosts.LimitSlotsPerHost(plan.transferSlots);
        hosts.Seed(LoadHostRanking(HostRankingName));
        std::vector<HostRate> passedOver;
        for (const std::string& base : plan.hostsPassedOver) passedOver.push_back({base, 0});
        hosts.Seed(passedOver);
        UseRunHosts(&hosts);
    }
    // A run that cannot fit downloads nothing, so that no file is left half replaced on a full disk.
    int failed = SpaceEnough() ? FetchPending() : (int)pending.size();
    UseRunHosts(nullptr);
    RemoveStagingFolder([this](const char* digest) { return IsListedDigest(digest); });
    // The ranking stays in the staging folder for the next start; the folder then holds it alone.
    if (severalHosts && !pending.empty()) {
        MakeDirectory(StagingFolder);
        SaveHostRanking(HostRankingName, hosts.Ranking());
    }

    // Success is claimed only when the file list arrived whole and every pending file was installed.
    if (!plan.listFetched) {
        LogLine("Update incomplete: the file list could not be downloaded");
    } else if (plan.listRefused) {
        LogLine("Update incomplete: the file list was refused");
    } else if (failed > 0) {
        snprintf(LogMessageBuffer, LogMessageBufferSize, "Update incomplete: %d of %d files could not be updated",
                 failed, (int)pending.size());
        LogLine(LogMessageBuffer);
    } else if (plan.manifest.refusedLines > 0) {
        // The files those lines named were not checked, so the folder may still lack them.
        LogLine("Update incomplete: some entries of the file list were refused");
    } else {
        LogLine("All files up to date");
    }
    observer.RunEnded();
}

}  // namespace

void RunUpdate(const UpdatePlan& plan, UpdateObserver& observer) {
    Run(plan, observer).CheckFiles();
}
