// Delta update of one listed file: index, scan, ranges, rebuild and its checks; portable, the transfer threads.
#include "updater/delta/patch.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

#include "common/file.h"
#include "updater/helper_thread.h"
#include "updater/net/multipart.h"
#include "updater/net/progress.h"
#include "updater/trust/signature.h"
#include "updater/net/transfer.h"

bool PatchApplies(long long localLength) {
    return localLength >= (long long)DefaultBlockIndexMinBytes;
}

std::vector<ByteRange> PatchRanges(const BlockIndex& index, const BlockPlan& plan) {
    return FetchRanges(index, plan, PatchJoinGap);
}

bool PatchWorthIt(uint64_t fileLength, uint64_t indexBytes, uint64_t fetchBytes) {
    return indexBytes + fetchBytes <= fileLength / 2;
}

void FormatPatchedLine(char* buffer, size_t size, const char* path, uint64_t fetched, uint64_t whole) {
    // Tenths of a MB, rounded to the nearest.
    const uint64_t tenth = 1024 * 1024 / 10;
    uint64_t f = (fetched + tenth / 2) / tenth, w = (whole + tenth / 2) / tenth;
    snprintf(buffer, size, "Patched %s: %llu.%llu of %llu.%llu MB fetched.", path, (unsigned long long)(f / 10),
             (unsigned long long)(f % 10), (unsigned long long)(w / 10), (unsigned long long)(w % 10));
}

void FormatPatchFallbackLine(char* buffer, size_t size, const char* path, const char* reason) {
    snprintf(buffer, size, "Patch of %s not used: %s; downloading the whole file.", path, reason);
}

void FormatOneRangeLine(char* buffer, size_t size, const char* path) {
    snprintf(buffer, size, "Patch of %s: the server sends one range per request.", path);
}

namespace {

// The open files of one patch; every one is closed when it goes.
struct PatchFiles {
    FILE* local = nullptr;
    FILE* built = nullptr;
    class RangeFetcher* fetcher = nullptr;
    ~PatchFiles() { Close(); }
    void Close() {
        for (FILE** file : {&local, &built}) {
            if (*file) fclose(*file);
            *file = nullptr;
        }
    }
};

bool ReadLocal(void* context, uint64_t offset, void* buffer, size_t size) {
    return FileReadAt(static_cast<PatchFiles*>(context)->local, offset, buffer, size);
}

bool WriteBuilt(void* context, const void* data, size_t size) {
    return FileWrite(static_cast<PatchFiles*>(context)->built, data, size);
}

// The staging files of one patch, named after the listed digest and its occurrence like the file's partial body,
// so that two patches in flight never share one (the start of a run deletes them); all go when the patch ends.
struct StagingNames {
    char index[UrlBufferSize + 16], ranges[UrlBufferSize + 16], built[UrlBufferSize + 16];
    bool ok;
    StagingNames(const char* digest, int occurrence) {
        char base[UrlBufferSize];
        ok = MakePartialName(digest, occurrence, base, sizeof base);
        snprintf(index, sizeof index, "%s.index", base);
        snprintf(ranges, sizeof ranges, "%s.ranges", base);
        snprintf(built, sizeof built, "%s.new", base);
    }
    ~StagingNames() {
        remove(index);
        remove(built);
    }
};

// Requests of one file in flight at once, each on a kept-alive slot of the transport: each request costs a round
// trip, so several at a time hide most of it (the rebuild copies the local blocks meanwhile).
const size_t RangesInFlight = 4;

std::mutex PatchLock;

// Fetches every range, up to RangesInFlight requests at once in file order, each range into a file of its own
// beside the staging name, while the rebuild goes on: it reads a range once that range has arrived whole (Read
// waits for it), so building the file from the local blocks overlaps the round trips. Consecutive ranges are asked
// for together, up to MaxRangesPerRequest in one request, spread so that every request in flight has its share; a
// server that does not send several ranges in one answer gets one range per request from then on. The destructor
// stops taking new ranges, waits for those in flight and removes every part.
class RangeFetcher {
public:
    RangeFetcher(const char* base, const char* path, const std::vector<ByteRange>& ranges, uint64_t fileLength,
                 const char* staging)
        : base_(base), path_(path), ranges_(ranges), fileLength_(fileLength), done_(ranges.size(), false),
          perRequest_(std::min((ranges.size() + RangesInFlight - 1) / RangesInFlight, (size_t)MaxRangesPerRequest)) {
        for (size_t i = 0; i < ranges.size(); ++i) {
            parts_.push_back(std::string(staging) + "." + std::to_string(i));
            remove(parts_.back().c_str());
        }
        for (size_t t = 0; t < std::min(RangesInFlight, ranges.size()); ++t) {
            if (HelperThread* helper = StartHelperThread(Run, this)) helpers_.push_back(helper);
        }
        if (helpers_.empty() && !ranges.empty()) problem_ = "no transfer could be started";
    }
    ~RangeFetcher() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!problem_) problem_ = "the patch was abandoned";
        }
        for (HelperThread* helper : helpers_) JoinHelperThread(helper);
        for (const std::string& part : parts_) remove(part.c_str());
    }

    // Reads size bytes of the new file at offset, which must lie in one range; waits for that range.
    bool Read(uint64_t offset, void* buffer, size_t size) {
        size_t i = 0;
        while (i < ranges_.size() && offset - ranges_[i].offset >= ranges_[i].length) ++i;
        if (i == ranges_.size() || size == 0 || size > ranges_[i].length - (offset - ranges_[i].offset)) return false;
        {
            std::unique_lock<std::mutex> guard(lock_);
            arrived_.wait(guard, [&] { return done_[i] || problem_; });
            if (!done_[i]) return false;
        }
        FILE* part = fopen(parts_[i].c_str(), "rb");
        bool read = part && FileReadAt(part, offset - ranges_[i].offset, buffer, size);
        if (part) fclose(part);
        return read;
    }

    // What went wrong first while fetching, or null.
    const char* Problem() {
        std::lock_guard<std::mutex> guard(lock_);
        return problem_;
    }

    // Whether the server sent one range per request where several were asked for.
    bool OneByOne() {
        std::lock_guard<std::mutex> guard(lock_);
        return oneByOne_;
    }

private:
    // The ranges of one request, from first on, each into its part file.
    struct PartWriter : RangeOutput {
        RangeFetcher& fetcher;
        size_t first;
        FILE* file = nullptr;
        PartWriter(RangeFetcher& f, size_t from) : fetcher(f), first(from) {}
        ~PartWriter() {
            if (file) fclose(file);
        }
        bool Start(size_t range) override {
            if (file) fclose(file);
            file = fopen(fetcher.parts_[first + range].c_str(), "wb");
            return file != nullptr;
        }
        bool Write(size_t, const char* data, size_t size) override { return file && FileWrite(file, data, size); }
        bool Done(size_t range) override {
            bool closed = file && fclose(file) == 0;
            file = nullptr;
            if (closed) fetcher.Arrived(first + range, nullptr);
            return closed;
        }
    };

    void Arrived(size_t i, const char* failed) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (failed && !problem_) problem_ = failed;
            if (!failed) done_[i] = true;
        }
        arrived_.notify_all();
    }

    void FetchOne(size_t i) {
        const char* failed = FetchRange(base_, path_, ranges_[i], fileLength_, parts_[i].c_str());
        if (!failed && FileLength(parts_[i].c_str()) != (long long)ranges_[i].length) {
            failed = "the ranges arrived cut short";
        }
        Arrived(i, failed);
    }

    static void Run(void* self) { static_cast<RangeFetcher*>(self)->Fetch(); }
    void Fetch() {
        for (;;) {
            size_t first, count;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (next_ >= ranges_.size() || problem_) return;
                first = next_;
                count = std::min(oneByOne_ ? 1 : perRequest_, ranges_.size() - first);
                next_ += count;
            }
            if (count == 1) {
                FetchOne(first);
                continue;
            }
            PartWriter writer(*this, first);
            bool oneByOne = false;
            const char* failed = FetchRangesAtOnce(base_, path_, &ranges_[first], count, fileLength_, writer, &oneByOne);
            if (failed) {
                Arrived(first, failed);
                return;
            }
            if (!oneByOne) continue;
            {
                std::lock_guard<std::mutex> guard(lock_);
                oneByOne_ = true;
            }
            for (size_t i = first; i < first + count && !Problem(); ++i) {
                bool done;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    done = done_[i];
                }
                if (!done) FetchOne(i);
            }
        }
    }

    const char* base_;
    const char* path_;
    const std::vector<ByteRange>& ranges_;
    const uint64_t fileLength_;
    std::vector<std::string> parts_;
    std::vector<HelperThread*> helpers_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<bool> done_;
    const size_t perRequest_;
    size_t next_ = 0;
    bool oneByOne_ = false;
    const char* problem_ = nullptr;
};

bool ReadFetchedRange(void* context, uint64_t offset, void* buffer, size_t size) {
    return static_cast<PatchFiles*>(context)->fetcher->Read(offset, buffer, size);
}

}  // namespace

const char* PatchFile(const FetchRequest& request, std::vector<std::string>& lines) {
    char indexPath[UrlBufferSize];
    if (!MakeBlockIndexPath(request.path, request.expectedDigest, indexPath, sizeof indexPath)) {
        return "the file has no block index name";
    }
    StagingNames names(request.expectedDigest, request.occurrence);
    if (!names.ok) return "the file has no block index name";

    // The index, through the transfer layer like the list: bounded by the reader's limit and one time-out,
    // never retried; its lines are not logged, since a missing index is told by the fallback line.
    FetchRequest indexRequest{indexPath, nullptr, nullptr, names.index,
                              ManifestLimits(MaxBlockIndexBytes, DownloadTimeoutSeconds), 0};
    indexRequest.base = request.base;
    std::vector<std::string> indexLines;
    if (!FetchFile(indexRequest, indexLines)) return "its block index could not be fetched";
    std::string data;
    if (!ReadSmallFile(names.index, MaxBlockIndexBytes, data)) return "its block index could not be read";
    BlockIndex index;
    if (const char* problem = ReadBlockIndex(data.data(), data.size(), request.expectedDigest, &index)) return problem;
    if (request.fingerprint && index.fileLength != request.fingerprint->length) {
        return "its block index does not have the signed length";
    }

    // One patch at a time scans, fetches and rebuilds: each already keeps both cores busy, and under Wine
    // each of its threads costs about 1 MiB, so several packs changed at once must not multiply them.
    std::lock_guard<std::mutex> onePatch(PatchLock);
    PatchFiles files;
    files.local = fopen(request.path, "rb");
    if (!files.local) return "the local file cannot be read";
    BlockPlan plan = ScanLocalFileInHalves(index, request.path, files.local, std::max(0LL, FileLength(request.path)));
    std::vector<ByteRange> ranges = PatchRanges(index, plan);
    if (!PatchWorthIt(index.fileLength, data.size(), TotalLength(ranges))) return "too much of the file changed";
    if (request.pendingIndex >= 0) {
        int64_t fetched = (int64_t)(data.size() + TotalLength(ranges));
        RunMeter.AdjustTotal(request.fingerprint ? fetched - (int64_t)request.fingerprint->length : fetched);
    }

    files.built = fopen(names.built, "wb");
    if (!files.built) return "the staging folder refused the file";
    RangeFetcher fetcher(request.base, request.path, ranges, index.fileLength, names.ranges);
    files.fetcher = &fetcher;
    BlockBuildIo io{&files, ReadLocal, ReadFetchedRange, WriteBuilt};
    char built[DigestTextSize];
    const char* buildProblem = BuildFromPlan(index, plan, io, built);
    // A failed range explains a failed rebuild better than the read it made fail.
    if (const char* problem = fetcher.Problem()) return problem;
    if (buildProblem) return buildProblem;
    bool written = fflush(files.built) == 0 && !ferror(files.built);
    files.Close();  // the local copy is replaced next, which Windows refuses while it is open
    if (!written) return "the staging folder refused the file";
    char checked[DigestTextSize];
    long lastError;
    switch (InstallChecked(request, names.built, built, checked, &lastError).kind) {
    case LineComplete: break;
    case LineDigestMismatch: return "the rebuilt file does not match its digest";
    case LineSignedMismatch: return "the rebuilt file does not match its signed length and SHA-256";
    default: return "the rebuilt file cannot replace the old one";
    }

    char line[UrlBufferSize + 100];
    DownloadLineArgs args = {request.path, "", 0, built, request.expectedDigest, 0};
    FormatDownloadLine(line, sizeof line, LineComplete, args);
    lines.push_back(line);
    if (fetcher.OneByOne()) {
        FormatOneRangeLine(line, sizeof line, request.path);
        lines.push_back(line);
    }
    FormatPatchedLine(line, sizeof line, request.path, data.size() + TotalLength(ranges), index.fileLength);
    lines.push_back(line);
    return nullptr;
}

bool PatchOrFetchFile(const FetchRequest& request, std::vector<std::string>& lines) {
    if (PatchApplies(FileLength(request.path))) {
        // The block index and the ranges come from the host the file would be fetched from.
        const std::string base = PreferredBase(request);
        FetchRequest patch = request;
        patch.base = base.c_str();
        const char* problem = PatchFile(patch, lines);
        if (!problem) return true;
        char line[UrlBufferSize + 160];
        FormatPatchFallbackLine(line, sizeof line, request.path, problem);
        lines.push_back(line);
    }
    return FetchFile(request, lines);
}
