// Digest benchmark: runs the launcher's file digest over the files named on the command line and prints MB/s; single-threaded.
#include <stdio.h>
#include <sys/stat.h>

#include <chrono>

#include "updater/digest.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_digest <label> <file>...\n");
        return 2;
    }
    double bytes = 0;
    for (int i = 2; i < argc; ++i) {
        struct stat info;
        if (stat(argv[i], &info) == 0) bytes += (double)info.st_size;
    }
    auto start = std::chrono::steady_clock::now();
    for (int i = 2; i < argc; ++i) {
        if (ComputeFileDigest(argv[i]) != 0) {
            fprintf(stderr, "bench_digest: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%-34s %8.1f MB/s  (%.0f MB in %.2f s; last digest %s)\n", argv[1], bytes / 1e6 / seconds, bytes / 1e6,
           seconds, DigestText);
    return 0;
}
