// Benchmark of the signed manifest's start-up check: AcceptSignedManifest on a published folder, run many times;
// prints figures, asserts nothing. Single-threaded.
//
//   bench_signature.exe <folder with update.cfg and update.cfg.sig> <public key file> [runs]
//
// The folder's accepted-version file is written by the first run, as at a first start.
#include <windows.h>
#include <direct.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "updater/trust/signature.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_signature <published folder> <public key file> [runs]\n");
        return 2;
    }
    int runs = argc > 3 ? atoi(argv[3]) : 200;
    if (runs < 1) runs = 1;
    FILE* keyFile = fopen(argv[2], "rb");
    char keyText[1024];
    size_t keyLength = keyFile ? fread(keyText, 1, sizeof keyText, keyFile) : 0;
    if (keyFile) fclose(keyFile);
    uint8_t key[PublicKeySize];
    if (!ReadPublicKeyText(keyText, keyLength, key)) {
        fprintf(stderr, "bench_signature: %s is not a public key file\n", argv[2]);
        return 2;
    }
    if (_chdir(argv[1]) != 0) {
        fprintf(stderr, "bench_signature: cannot enter %s\n", argv[1]);
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    int accepted = 0;
    for (int i = 0; i < runs; ++i) {
        QueryPerformanceCounter(&start);
        SignatureFile file;
        bool ok = AcceptSignedManifest(&key, 1, true, &file);
        if (ok) RecordAcceptedVersion(file.version);
        accepted += ok;
        QueryPerformanceCounter(&end);
        times.push_back((double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    }
    double first = times[0];
    std::sort(times.begin(), times.end());
    printf("signature check (read update.cfg.sig, SHA-256 of update.cfg, ECDSA P-256 verify, version record):\n");
    printf("  first run: %.2f ms; median of %d runs: %.2f ms (min %.2f, max %.2f); accepted %d of %d\n", first, runs,
           times[times.size() / 2], times.front(), times.back(), accepted, runs);
    return accepted == runs ? 0 : 1;
}
