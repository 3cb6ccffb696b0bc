// Fuzz target of the response-header reader: never a crash, and a length only where a Content-Length
// header says one.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "updater/net/downloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string headers(reinterpret_cast<const char*>(data), size);
    int64_t length = ExpectedBodyLength(headers.c_str());
    if (length < -1) abort();
    if (length >= 0) {
        std::string folded;
        for (char c : headers) folded += (char)tolower((unsigned char)c);
        if (folded.find("content-length:") == std::string::npos) {
            fprintf(stderr, "a length without a Content-Length header\n");
            abort();
        }
    }
    return 0;
}
