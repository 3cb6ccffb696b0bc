// Delta update of one listed file: index, scan, ranges, rebuild and its checks; portable, the transfer threads.
#include "updater/patch.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "updater/helper_thread.h"
#include "updater/signature.h"
#include "updater/transfer.h"

long long FileLength(const char* path) {
#ifdef _WIN32
    struct _stati64 info;  // the plain stat of a 32-bit program fails beyond 2 GiB
    return _stati64(path, &info) == 0 ? (long long)info.st_size : -1;
#else
    struct stat info;
    return stat(path, &info) == 0 ? (long long)info.st_size : -1;
#endif
}

bool PatchApplies(long long localLength) {
    return localLength >= (long long)DefaultBlockIndexMinBytes;
}

std::vector<ByteRange> PatchRanges(const BlockIndex& index, const BlockPlan& plan) {
    uint64_t gap = PatchJoinGap;
    std::vector<ByteRange> ranges = FetchRanges(index, plan, gap);
    while (ranges.size() > MaxPatchRanges) {
        gap *= 2;
        ranges = FetchRanges(index, plan, gap);
    }
    return ranges;
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

namespace {

// The open files of one patch; every one is closed when it goes.
struct PatchFiles {
    FILE* local = nullptr;
    FILE* fetched = nullptr;
    FILE* built = nullptr;
    const std::vector<ByteRange>* ranges = nullptr;
    ~PatchFiles() { Close(); }
    void Close() {
        for (FILE** file : {&local, &fetched, &built}) {
            if (*file) fclose(*file);
            *file = nullptr;
        }
    }
};

bool ReadLocal(void* context, uint64_t offset, void* buffer, size_t size) {
    return FileReadAt(static_cast<PatchFiles*>(context)->local, offset, buffer, size);
}

// Bytes of the new file from the fetched ranges, stored one after another; a read must lie in one range.
bool ReadFetched(void* context, uint64_t offset, void* buffer, size_t size) {
    PatchFiles* files = static_cast<PatchFiles*>(context);
    uint64_t first, last;
    if (size == 0 || !OffsetInFetched(*files->ranges, offset, &first) ||
        !OffsetInFetched(*files->ranges, offset + size - 1, &last) || last - first != size - 1) {
        return false;
    }
    return FileReadAt(files->fetched, first, buffer, size);
}

bool WriteBuilt(void* context, const void* data, size_t size) {
    return FileWrite(static_cast<PatchFiles*>(context)->built, data, size);
}

// Reads a whole small file; false when it cannot or it is longer than limit.
bool ReadSmallFile(const char* path, size_t limit, std::string& data) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    data.resize(limit + 1);
    size_t count = fread(&data[0], 1, data.size(), file);
    bool ok = !ferror(file) && count <= limit;
    fclose(file);
    data.resize(count);
    return ok;
}

// The staging files of one patch, named after the listed digest and its occurrence like the file's partial body,
// so that two patches in flight never share one (the start of a run deletes them); all go when the patch ends.
struct StagingNames {
    char index[UrlBufferSize + 16], fetched[UrlBufferSize + 16], built[UrlBufferSize + 16];
    bool ok;
    StagingNames(const char* digest, int occurrence) {
        char base[UrlBufferSize];
        ok = MakePartialName(digest, occurrence, base, sizeof base);
        snprintf(index, sizeof index, "%s.index", base);
        snprintf(fetched, sizeof fetched, "%s.ranges", base);
        snprintf(built, sizeof built, "%s.new", base);
    }
    ~StagingNames() {
        remove(index);
        remove(fetched);
        remove(built);
    }
};

}  // namespace

namespace {

// Ranges of one file in flight at once: each request costs a round trip, so a few at a time hide most of it.
const size_t RangesInFlight = 4;

// Fetches every range, up to RangesInFlight at once, each into a file of its own beside fetched, then joins
// them in order into fetched. Returns null, or what went wrong first.
const char* FetchAllRanges(const char* path, const std::vector<ByteRange>& ranges, uint64_t fileLength,
                           const char* fetched) {
    std::vector<std::string> parts;
    for (size_t i = 0; i < ranges.size(); ++i) {
        parts.push_back(std::string(fetched) + "." + std::to_string(i));
        remove(parts.back().c_str());
    }
    std::mutex lock;
    size_t next = 0;
    const char* problem = nullptr;
    auto fetch = [&] {
        for (;;) {
            size_t i;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (next >= ranges.size() || problem) return;
                i = next++;
            }
            const char* failed = FetchRange(path, ranges[i], fileLength, parts[i].c_str());
            if (failed) {
                std::lock_guard<std::mutex> guard(lock);
                if (!problem) problem = failed;
            }
        }
    };
    auto run = [](void* argument) { (*(decltype(fetch)*)argument)(); };
    std::vector<HelperThread*> helpers;
    for (size_t t = 1; t < std::min(RangesInFlight, ranges.size()); ++t) {
        if (HelperThread* helper = StartHelperThread(run, &fetch)) helpers.push_back(helper);
    }
    fetch();
    for (HelperThread* helper : helpers) JoinHelperThread(helper);

    FILE* out = problem ? nullptr : fopen(fetched, "wb");
    if (!problem && !out) problem = "the staging folder refused the file";
    char buffer[64 * 1024];
    for (const std::string& part : parts) {
        FILE* in = out ? fopen(part.c_str(), "rb") : nullptr;
        size_t count;
        while (in && (count = fread(buffer, 1, sizeof buffer, in)) > 0) {
            if (fwrite(buffer, 1, count, out) != count) problem = "the staging folder refused the file";
        }
        if (in) fclose(in);
        remove(part.c_str());
    }
    if (out && fclose(out) != 0 && !problem) problem = "the staging folder refused the file";
    return problem;
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
    std::vector<std::string> indexLines;
    if (!FetchFile(indexRequest, indexLines)) return "its block index could not be fetched";
    std::string data;
    if (!ReadSmallFile(names.index, MaxBlockIndexBytes, data)) return "its block index could not be read";
    BlockIndex index;
    if (const char* problem = ReadBlockIndex(data.data(), data.size(), request.expectedDigest, &index)) return problem;
    if (request.fingerprint && index.fileLength != request.fingerprint->length) {
        return "its block index does not have the signed length";
    }

    PatchFiles files;
    files.local = fopen(request.path, "rb");
    if (!files.local) return "the local file cannot be read";
    BlockPlan plan = ScanLocalFile(index, FileReadNext, files.local);
    std::vector<ByteRange> ranges = PatchRanges(index, plan);
    files.ranges = &ranges;
    if (!PatchWorthIt(index.fileLength, data.size(), TotalLength(ranges))) return "too much of the file changed";

    remove(names.fetched);
    if (const char* problem = FetchAllRanges(request.path, ranges, index.fileLength, names.fetched)) return problem;
    if (!ranges.empty() && FileLength(names.fetched) != (long long)TotalLength(ranges)) return "the ranges arrived cut short";
    files.fetched = ranges.empty() ? nullptr : fopen(names.fetched, "rb");
    files.built = fopen(names.built, "wb");
    if ((!ranges.empty() && !files.fetched) || !files.built) return "the staging folder refused the file";

    BlockBuildIo io{&files, ReadLocal, ReadFetched, WriteBuilt};
    char built[DigestTextSize];
    if (const char* problem = BuildFromPlan(index, plan, io, built)) return problem;
    bool written = fflush(files.built) == 0 && !ferror(files.built);
    files.Close();  // the local copy is replaced next, which Windows refuses while it is open
    if (!written) return "the staging folder refused the file";
    if (!DigestAccepted(request.expectedDigest, built)) return "the rebuilt file does not match its digest";
    if (const char* problem = InstallStagedFile(request, names.built)) return problem;

    char line[UrlBufferSize + 100];
    DownloadLineArgs args = {request.path, "", 0, built, request.expectedDigest, 0};
    FormatDownloadLine(line, sizeof line, LineComplete, args);
    lines.push_back(line);
    FormatPatchedLine(line, sizeof line, request.path, data.size() + TotalLength(ranges), index.fileLength);
    lines.push_back(line);
    return nullptr;
}
