// Delta update benchmark (native and Windows): makes a pack and a changed copy, indexes the copy, scans the
// pack against it (in one thread, then in two halves side by side as the launcher does) and rebuilds the copy;
// prints the figures.
//
// Usage: bench_block_scan [--megabytes N] [FOLDER]
//   FOLDER        where the three files (old, new, rebuilt) are written and removed again; default "."
//   --megabytes   size of the pack, default 256
// The copy has 20 scattered 64 KiB changes and a 10 KiB insertion in the middle.
// Prints: index_bytes= fetch_bytes= ranges= index_seconds= scan_seconds= (in halves) single_scan_seconds=
//         build_seconds= peak_rss_kib= result=
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "updater/delta/block_index.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long PeakRssKib() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return (long)(counters.PeakWorkingSetSize / 1024);
#else
    // VmHWM belongs to this program alone; ru_maxrss keeps the peak of the process that started it when that
    // was larger (it survives exec), which a benchmark run from a large Python process would report instead.
    if (FILE* status = fopen("/proc/self/status", "r")) {
        char line[256];
        long kib = -1;
        while (fgets(line, sizeof line, status)) {
            if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
        }
        fclose(status);
        if (kib >= 0) return kib;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

// Deterministic bytes that neither compress nor repeat (xorshift64).
struct Noise {
    uint64_t state;
    void Fill(unsigned char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            data[i] = (unsigned char)(state >> 24);
        }
    }
};

// Writes the old pack and the new copy side by side, a megabyte at a time.
bool MakeFiles(const std::string& oldPath, const std::string& newPath, uint64_t size) {
    FILE* oldFile = fopen(oldPath.c_str(), "wb");
    FILE* newFile = fopen(newPath.c_str(), "wb");
    if (!oldFile || !newFile) return false;
    const size_t chunk = 1 << 20, change = 64 * 1024, insertion = 10 * 1024;
    const uint64_t middle = size / 2 + 1234, spacing = size / 21;
    std::vector<unsigned char> data(chunk), other(change + insertion);
    Noise noise{0x9E3779B97F4A7C15ull}, changes{12345};
    bool ok = true;
    for (uint64_t at = 0; at < size && ok; at += chunk) {
        size_t n = (size_t)std::min<uint64_t>(chunk, size - at);
        noise.Fill(data.data(), n);
        ok = fwrite(data.data(), 1, n, oldFile) == n;
        // Changes at odd offsets, so each spans parts of 17 blocks (and may span two chunks); the
        // insertion splits one chunk.
        for (int i = 1; i <= 20; ++i) {
            uint64_t start = std::max<uint64_t>(i * spacing + 777 * i, at), end = i * spacing + 777 * i + change;
            if (start < end && start < at + n) {
                changes.Fill(data.data() + (start - at), (size_t)(std::min(end, at + n) - start));
            }
        }
        if (middle >= at && middle < at + n) {
            size_t head = (size_t)(middle - at);
            changes.Fill(other.data(), insertion);
            ok = ok && fwrite(data.data(), 1, head, newFile) == head &&
                 fwrite(other.data(), 1, insertion, newFile) == insertion &&
                 fwrite(data.data() + head, 1, n - head, newFile) == n - head;
        } else {
            ok = ok && fwrite(data.data(), 1, n, newFile) == n;
        }
    }
    ok = fclose(oldFile) == 0 && ok;
    return fclose(newFile) == 0 && ok;
}

struct BuildFiles {
    FILE* local;
    FILE* wanted;  // the fetched ranges are read from the new file itself, as a server would send them
    FILE* out;
};
bool ReadLocal(void* context, uint64_t offset, void* buffer, size_t size) {
    return FileReadAt(((BuildFiles*)context)->local, offset, buffer, size);
}
bool ReadWanted(void* context, uint64_t offset, void* buffer, size_t size) {
    return FileReadAt(((BuildFiles*)context)->wanted, offset, buffer, size);
}
bool WriteOut(void* context, const void* data, size_t size) {
    return FileWrite(((BuildFiles*)context)->out, data, size);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 256;
    std::string folder = ".";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc) {
            megabytes = strtoull(argv[++i], nullptr, 10);
        } else if (argv[i][0] != '-') {
            folder = argv[i];
        } else {
            fprintf(stderr, "usage: bench_block_scan [--megabytes N] [FOLDER]\n");
            return 2;
        }
    }
    const std::string oldPath = folder + "/bench-old.pak", newPath = folder + "/bench-new.pak",
                      outPath = folder + "/bench-rebuilt.pak";
    const uint64_t size = megabytes << 20;
    if (!MakeFiles(oldPath, newPath, size)) {
        fprintf(stderr, "bench_block_scan: cannot write the files in %s\n", folder.c_str());
        return 2;
    }

    double start = Now();
    FILE* wanted = fopen(newPath.c_str(), "rb");
    BlockIndex index;
    if (!wanted || MakeBlockIndex(FileReadNext, wanted, size + 10 * 1024, &index) != 0) return 2;
    const double indexSeconds = Now() - start;
    const std::string encoded = EncodeBlockIndex(index);
    BlockIndex read;
    if (const char* problem = ReadBlockIndex(encoded.data(), encoded.size(), nullptr, &read)) {
        fprintf(stderr, "bench_block_scan: %s\n", problem);
        return 2;
    }

    start = Now();
    FILE* local = fopen(oldPath.c_str(), "rb");
    if (!local) return 2;
    BlockPlan plan = ScanLocalFile(read, FileReadNext, local);
    const double singleSeconds = Now() - start;
    start = Now();
    if (!FileSeek(local, 0)) return 2;
    const bool sameHalves = ScanLocalFileInHalves(read, oldPath.c_str(), local, size) == plan;
    const double scanSeconds = Now() - start;
    std::vector<ByteRange> ranges = FetchRanges(read, plan);

    start = Now();
    FILE* out = fopen(outPath.c_str(), "wb");
    BuildFiles files{local, wanted, out};
    char digest[DigestTextSize] = "";
    const char* problem =
        out ? BuildFromPlan(read, plan, {&files, ReadLocal, ReadWanted, WriteOut}, digest) : "no output";
    if (out) fclose(out);
    const double buildSeconds = Now() - start;
    fclose(local);
    fclose(wanted);
    char wantedDigest[DigestTextSize];
    for (int i = 0; i < Sha1Size; ++i) snprintf(wantedDigest + 2 * i, 3, "%02x", index.fileSha1[i]);
    const bool same = !problem && strcmp(digest, wantedDigest) == 0 && sameHalves;

    printf("index_bytes=%zu fetch_bytes=%llu ranges=%zu index_seconds=%.3f scan_seconds=%.3f "
           "single_scan_seconds=%.3f build_seconds=%.3f peak_rss_kib=%ld result=%s\n",
           encoded.size(), (unsigned long long)TotalLength(ranges), ranges.size(), indexSeconds, scanSeconds,
           singleSeconds, buildSeconds, PeakRssKib(),
           same ? "identical" : problem ? problem : !sameHalves ? "HALVES DIFFER" : "DIFFERS");
    remove(oldPath.c_str());
    remove(newPath.c_str());
    remove(outPath.c_str());
    return same ? 0 : 1;
}
