// Portable half of the downloader: temporary names, digest checks, outcome lines and response headers; used by the downloader's thread and the publisher tool.
#include "updater/net/downloader.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "common/text.h"


bool MakeDownloadTempName(const char* path, int pendingIndex, char* name, size_t size) {
    int prefix = (int)strlen(StagingFolder) + 1;
    int length = pendingIndex >= 0 ? snprintf(name, size, "%s\\%d %s", StagingFolder, pendingIndex, path)
                                   : snprintf(name, size, "%s\\%s", StagingFolder, path);
    if (length < 0 || (size_t)length >= size) return false;
    for (char* p = name + prefix; *p; ++p) {
        if (*p == '/' || *p == '\\') *p = '#';
    }
    return true;
}

bool DigestAccepted(const char* expectedDigest, const char* arrivedDigest) {
    if (!IsHexDigest40(expectedDigest)) return true;
    return IsHexDigest40(arrivedDigest) && EqualIgnoringCase(expectedDigest, arrivedDigest);
}

void FormatDownloadLine(char* buffer, size_t size, DownloadLineKind kind, const DownloadLineArgs& args) {
    switch (kind) {
    case LineComplete:
        snprintf(buffer, size, "Download: %s complete.", args.path);
        break;
    case LineUrlInvalid:
        snprintf(buffer, size, "URL is invalid: %s.", args.url);
        break;
    case LineOutOfMemory:
        snprintf(buffer, size, "Buffer length invalid, or insufficient memory: %s", args.path);
        break;
    case LineError:
        snprintf(buffer, size, "Download: %s, error: %ld", args.path, args.lastError);
        break;
    case LineTimedOut:
        snprintf(buffer, size, "Download: %s timed out.", args.path);
        break;
    case LineTooLarge:
        snprintf(buffer, size, "Download: %s is larger than %llu bytes.", args.path, (unsigned long long)args.maxBytes);
        break;
    case LineSignedMismatch:
        snprintf(buffer, size, "Download: %s does not match its signed length and SHA-256.", args.path);
        break;
    case LineDiskFull:
        snprintf(buffer, size, "Download: %s stopped: the disk is nearly full.", args.path);
        break;
    case LineProxyRefused:
        snprintf(buffer, size, "Download: %s refused by the proxy: it asks for a user name and password (407).",
                 args.path);
        break;
    case LineDigestMismatch:
        snprintf(buffer, size, "Download: %s does not match its digest (%s - %s).", args.path, args.arrivedDigest,
                 args.expectedDigest);
        break;
    }
}

void FormatRetryLine(char* buffer, size_t size, const char* path, TransferFailure failure, int attempt, int attempts) {
    if (failure == TransferDigestMismatch) {
        snprintf(buffer, size, "Download: %s does not match the file list, trying again (%d of %d).", path, attempt,
                 attempts);
    } else {
        snprintf(buffer, size, "Download: %s interrupted, trying again (%d of %d).", path, attempt, attempts);
    }
}

const char* HeaderValue(const char* headers, const char* name) {
    for (const char* line = headers; line && *line;) {
        if (StartsWithIgnoringCase(line, name)) {
            const char* value = line + strlen(name);
            while (*value == ' ' || *value == '\t') ++value;
            return value;
        }
        const char* end = strchr(line, '\n');
        line = end ? end + 1 : nullptr;
    }
    return nullptr;
}

int64_t ExpectedBodyLength(const char* headers) {
    const char* encoding = HeaderValue(headers, "content-encoding:");
    if (encoding && !StartsWithIgnoringCase(encoding, "identity")) return -1;
    const char* p = HeaderValue(headers, "content-length:");
    uint64_t value;
    if (!p || !ParseDecimal(p, DecimalDigitCount(p), INT64_MAX, &value)) return -1;
    return (int64_t)value;
}
