// Digest benchmark program (native and Windows): digests the files named in a list file as the launcher's check does and prints the time; one process per measurement.
//
// Usage: bench_digest [--one-thread] [--portable] [--read-size BYTES] [--open-only] LIST
//   LIST           a text file with one file name per line
//   --one-thread   ComputeFileDigest file after file, without the helper thread
//   --portable     the portable SHA-1 even where the CPU has the SHA extensions
//   --read-size    the launcher's digest loop with reads of this size instead of DigestReadSize (one thread)
//   --open-only    only open and close each file: the cost of opening it
// Prints: seconds=S files=N sha=extensions|portable last=DIGEST
//
// Usage: bench_digest --sha256 MIB
//   SHA-256 of MIB MiB in memory, in reads of DigestReadSize, with each block function this CPU has (best of 3).
// Prints a line per function: sha256=portable|extensions mbps=MB/s (10^6 bytes) digest=FIRST 8 BYTES
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "updater/sha1.h"
#include "updater/trust/sha256.h"

static std::vector<std::string> Files;
static int Failures;

static const char* PathOf(int index) {
    return Files[index].c_str();
}

static void CountFailure(int, int error) {
    if (error) ++Failures;
}

// The launcher's digest loop (DigestFile) with another read size, to choose DigestReadSize.
static int DigestWithReadSize(const char* name, size_t readSize, std::vector<unsigned char>& buffer) {
    FILE* file = fopen(name, "rb");
    if (!file) return 1;
    setvbuf(file, nullptr, _IONBF, 0);
    Sha1 state;
    Sha1Init(state);
    size_t got;
    while ((got = fread(buffer.data(), 1, readSize, file)) > 0) Sha1Update(state, buffer.data(), got);
    fclose(file);
    Sha1FinishHex(state, DigestText);
    return 0;
}

static int BenchSha256(size_t mib) {
    std::vector<unsigned char> data(mib << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = (unsigned char)(i * 7 + (i >> 11));
    for (Sha256Implementation implementation : {Sha256Portable, Sha256Extensions}) {
        if (!SelectSha256Implementation(implementation)) continue;
        double best = 1e9;
        uint8_t digest[Sha256Size];
        for (int run = 0; run < 3; ++run) {
            auto start = std::chrono::steady_clock::now();
            Sha256 state;
            Sha256Init(state);
            for (size_t at = 0; at < data.size(); at += DigestReadSize) Sha256Update(state, &data[at], DigestReadSize);
            Sha256Finish(state, digest);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (seconds < best) best = seconds;
        }
        printf("sha256=%s mbps=%.0f digest=%02x%02x%02x%02x%02x%02x%02x%02x\n",
               implementation == Sha256Portable ? "portable" : "extensions", data.size() / best / 1e6, digest[0],
               digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7]);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--sha256") == 0) return BenchSha256((size_t)atol(argv[2]));
    bool oneThread = false, openOnly = false;
    const char* implementation = Sha1ExtensionsAvailable() ? "extensions" : "portable";
    size_t readSize = 0;
    int i = 1;
    for (; i < argc - 1; ++i) {
        if (strcmp(argv[i], "--one-thread") == 0) {
            oneThread = true;
        } else if (strcmp(argv[i], "--portable") == 0) {
            SelectSha1Implementation(Sha1Portable);
            implementation = "portable";
        } else if (strcmp(argv[i], "--open-only") == 0) {
            openOnly = true;
        } else if (strcmp(argv[i], "--read-size") == 0 && i + 2 < argc) {
            readSize = (size_t)atol(argv[++i]);
        } else {
            break;
        }
    }
    if (i != argc - 1) {
        fprintf(stderr, "usage: bench_digest [--one-thread] [--portable] [--read-size BYTES] [--open-only] LIST\n");
        return 2;
    }
    FILE* list = fopen(argv[i], "r");
    if (!list) {
        fprintf(stderr, "bench_digest: cannot read %s\n", argv[i]);
        return 2;
    }
    char line[1024];
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0]) Files.push_back(line);
    }
    fclose(list);

    std::vector<unsigned char> buffer(readSize);
    auto start = std::chrono::steady_clock::now();
    if (openOnly) {
        for (const std::string& name : Files) {
            FILE* file = fopen(name.c_str(), "rb");
            if (!file) ++Failures;
            if (file) fclose(file);
        }
    } else if (readSize) {
        for (const std::string& name : Files) Failures += DigestWithReadSize(name.c_str(), readSize, buffer);
    } else if (oneThread) {
        for (const std::string& name : Files) Failures += ComputeFileDigest(name.c_str()) != 0;
    } else {
        DigestFilesInOrder((int)Files.size(), PathOf, CountFailure);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (Failures) {
        fprintf(stderr, "bench_digest: %d files could not be read\n", Failures);
        return 1;
    }
    printf("seconds=%.6f files=%zu sha=%s last=%s\n", seconds, Files.size(),
           implementation, DigestText);
    return 0;
}
