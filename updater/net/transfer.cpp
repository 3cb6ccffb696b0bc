// Transfer policy of the downloader: bounds, retries, resumed answers, partial names; portable, any transfer thread.
#include "updater/net/transfer.h"

#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "updater/net/downloader.h"

TransferLimits ManifestLimits(uint64_t maxBytes, unsigned timeoutSeconds) {
    return TransferLimits{maxBytes, timeoutSeconds, 0, 0, 0};
}

TransferLimits GameFileLimits(unsigned timeoutSeconds) {
    return TransferLimits{0, 0, 2 * timeoutSeconds, MinimumRateBytes, TransferRetries};
}

bool IsTransientFailure(TransferFailure failure) {
    return failure == TransferCut || failure == TransferTimedOut || failure == TransferServerError ||
           failure == TransferRangeRefused;
}

RetryAction NextAttempt(TransferFailure failure, int attemptsMade, int retriesAllowed, bool refetchedAfterMismatch) {
    if (attemptsMade > retriesAllowed) return GiveUp;
    if (failure == TransferRangeRefused) return RetryFromStart;
    if (IsTransientFailure(failure)) return RetryResuming;
    if (failure == TransferDigestMismatch && !refetchedAfterMismatch) return RetryFromStart;
    return GiveUp;
}

unsigned RetryDelayMs(int retry, uint32_t random) {
    if (retry < 1) retry = 1;
    if (retry > 6) retry = 6;
    unsigned base = 1000u << (retry - 1);
    // random spreads the delay over [0.75, 1.25) of the base.
    return base * 3 / 4 + (unsigned)((uint64_t)(random % 1000) * (base / 2) / 1000);
}

bool ParseContentRange(const char* value, uint64_t* first, int64_t* total, uint64_t* lastByte) {
    if (!value || !StartsWithIgnoringCase(value, "bytes ")) return false;
    const char* p = value + 6;
    while (*p == ' ') ++p;
    size_t digits = DecimalDigitCount(p);
    if (!ParseDecimal(p, digits, INT64_MAX, first) || p[digits] != '-') return false;
    p += digits + 1;
    uint64_t last;
    digits = DecimalDigitCount(p);
    if (!ParseDecimal(p, digits, INT64_MAX, &last) || last < *first || p[digits] != '/') return false;
    if (lastByte) *lastByte = last;
    p += digits + 1;
    if (*p == '*') {
        *total = -1;
        return true;
    }
    uint64_t length;
    digits = DecimalDigitCount(p);
    if (!ParseDecimal(p, digits, INT64_MAX, &length) || length <= last) return false;
    *total = (int64_t)length;
    return true;
}

bool UnsatisfiedRangeLength(const char* value, int64_t* total) {
    if (!value || !StartsWithIgnoringCase(value, "bytes */")) return false;
    uint64_t length;
    size_t digits = DecimalDigitCount(value + 8);
    if (!ParseDecimal(value + 8, digits, INT64_MAX, &length)) return false;
    *total = (int64_t)length;
    return true;
}

RangeVerdict JudgeRangeAnswer(uint64_t requestedFrom, int httpStatus, const char* contentRange) {
    if (httpStatus == 200) return RangeWholeBody;
    if (httpStatus != 206) return RangeStartOver;
    uint64_t first;
    int64_t total;
    if (!ParseContentRange(contentRange, &first, &total)) return RangeStartOver;
    if (first != requestedFrom) return RangeStartOver;
    return RangeAppend;
}

const char* JudgeClosedRangeAnswer(uint64_t first, uint64_t last, uint64_t fileLength, int httpStatus,
                                   const char* contentRange) {
    if (httpStatus == 200) return "the server ignores Range requests";
    if (httpStatus != 206) return "a range request failed";
    uint64_t from, to;
    int64_t total;
    if (!ParseContentRange(contentRange, &from, &total, &to) || from != first || to != last) {
        return "the server answered another range";
    }
    // A file of another length is not the one the index describes (or the server changed it meanwhile).
    if (total != (int64_t)fileLength) return "the server's file has another length than its block index";
    return nullptr;
}

bool MakePartialName(const char* digest, int occurrence, char* name, size_t size) {
    if (!IsHexDigest40(digest)) return false;
    char lower[41];
    for (int i = 0; i < 41; ++i) lower[i] = FoldCase(digest[i]);
    int length = occurrence > 0 ? snprintf(name, size, "%s\\%s.%d.part", StagingFolder, lower, occurrence)
                                : snprintf(name, size, "%s\\%s.part", StagingFolder, lower);
    return length > 0 && (size_t)length < size;
}

bool PartialNameDigest(const char* fileName, char* digest) {
    size_t length = strlen(fileName);
    if (length < 45 || strcmp(fileName + length - 5, ".part") != 0) return false;
    memcpy(digest, fileName, 40);
    digest[40] = '\0';
    if (!IsHexDigest40(digest)) return false;
    const char* rest = fileName + 40;
    if (rest == fileName + length - 5) return true;
    // ".N.part"
    size_t digits = DecimalDigitCount(rest + 1);
    return rest[0] == '.' && digits > 0 && rest + 1 + digits == fileName + length - 5;
}

int64_t BodyPlacement(uint64_t requestedFrom, int httpStatus, const char* contentRange) {
    switch (JudgeRangeAnswer(requestedFrom, httpStatus, contentRange)) {
    case RangeWholeBody: return 0;
    case RangeAppend: return (int64_t)requestedFrom;
    case RangeStartOver: break;
    }
    return -1;
}

AttemptVerdict JudgeAttempt(const AttemptFacts& facts) {
    const int status = facts.httpStatus;
    if (status == 0) return facts.timedOut ? AttemptVerdict{TransferTimedOut, LineTimedOut} : AttemptVerdict{TransferCut, LineError};
    if (status >= 500) return {TransferServerError, LineUrlInvalid};
    if (status == 416) {
        // A partial that is already whole is answered with 416 and the file's length.
        int64_t total;
        bool whole = facts.requestedFrom > 0 && UnsatisfiedRangeLength(facts.contentRange, &total) &&
                     total == (int64_t)facts.requestedFrom;
        return whole ? AttemptVerdict{TransferDone, LineComplete} : AttemptVerdict{TransferRangeRefused, LineUrlInvalid};
    }
    // The user's proxy, not the update server, refused: no other file gets through it either.
    if (status == 407) return {TransferClientError, LineProxyRefused};
    if (status >= 400) return {TransferClientError, LineUrlInvalid};
    if (status == 206 && JudgeRangeAnswer(facts.requestedFrom, status, facts.contentRange) != RangeAppend) {
        return {TransferRangeRefused, LineError};
    }
    if (facts.tooLarge) return {TransferTooLarge, LineTooLarge};
    if (facts.timedOut) return {TransferTimedOut, LineTimedOut};
    if (status != 200 && status != 206) return {TransferCut, LineError};  // no body of the file at all
    if (facts.diskLow) return {TransferDiskFull, LineDiskFull};
    if (facts.writeFailed) return {TransferLocalError, LineError};
    if (!facts.ended || (facts.announced >= 0 && facts.stored != (uint64_t)facts.announced)) {
        return {TransferCut, LineError};
    }
    return {TransferDone, LineComplete};
}

uint32_t NextReadSize(uint32_t available, uint64_t stored, uint64_t elapsedMs, uint32_t bufferSize) {
    uint64_t flowing = elapsedMs ? stored * 100 / elapsedMs : 0;
    uint64_t wanted = available > flowing ? available : flowing;
    return (uint32_t)(wanted < bufferSize ? wanted : bufferSize);
}
