// Digest benchmark program (native and Windows): digests the files named in a list file as the launcher's check does and prints the time; one process per measurement.
//
// Usage: bench_digest [--one-thread] [--portable] [--read-size BYTES] [--open-only] LIST
//   LIST           a text file with one file name per line
//   --one-thread   ComputeFileDigest file after file, without the helper thread
//   --portable     the portable SHA-1 even where the CPU has the SHA extensions
//   --read-size    the launcher's digest loop with reads of this size instead of DigestReadSize (one thread)
//   --open-only    only open and close each file: the cost of opening it
// Prints: seconds=S files=N sha=extensions|portable last=DIGEST
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "updater/digest.h"

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

int main(int argc, char** argv) {
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
