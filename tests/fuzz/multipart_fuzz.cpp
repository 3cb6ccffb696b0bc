// Fuzz target of the several-ranges reader: never a crash, bytes only inside a started range, and a range told
// whole only with exactly its length, whatever the body and however it is cut into pieces.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "updater/net/multipart.h"

namespace {

const ByteRange Asked[] = {{10, 5}, {100, 3}, {200, 4}};

struct CheckedOutput : RangeOutput {
    uint64_t got[3] = {};
    int started = -1;
    bool Start(size_t range) override {
        started = (int)range;
        got[range] = 0;
        return true;
    }
    bool Write(size_t range, const char*, size_t size) override {
        if ((int)range != started || got[range] + size > Asked[range].length) {
            fprintf(stderr, "a write outside its range\n");
            abort();
        }
        got[range] += size;
        return true;
    }
    bool Done(size_t range) override {
        if (got[range] != Asked[range].length) {
            fprintf(stderr, "a range told whole with %llu bytes\n", (unsigned long long)got[range]);
            abort();
        }
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t piece = 1 + data[0] % 16;
    CheckedOutput out;
    RangesAnswerReader reader(Asked, 3, 1000, out);
    // Even first bytes read the body as several ranges, odd ones as one range from the first asked byte.
    reader.Begin(206, data[0] % 2 ? nullptr : "multipart/byteranges; boundary=XyZ", "bytes 10-203/1000");
    const char* body = reinterpret_cast<const char*>(data + 1);
    size_t length = size - 1;
    for (size_t at = 0; at < length; at += piece) {
        if (!reader.Feed(body + at, length - at < piece ? length - at : piece)) break;
    }
    if (!reader.End()) {
        for (size_t i = 0; i < 3; ++i) {
            if (!reader.Arrived(i)) abort();
        }
    }
    return 0;
}
