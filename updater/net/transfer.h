// Transfer policy of the downloader: bounds, retries, resumed answers and where a partial body waits; portable,
// used by every transfer thread.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifndef LAUNCHER_TRANSFER_SLOTS
#define LAUNCHER_TRANSFER_SLOTS 8
#endif

// Bounds of one file's transfer. Every figure is a ceiling that no server can push further.
struct TransferLimits {
    uint64_t maxBytes;          // a longer body is cut off there and fails; 0: no bound
    unsigned wholeSeconds;      // the body must be whole this long after the request; 0: no bound
    unsigned rateWindowSeconds; // a transfer that receives less than minWindowBytes in any such window is
    uint64_t minWindowBytes;    // abandoned as timed out; 0: no bound
    int retries;                // further attempts after a transient failure
};

enum {
    MaxManifestBytes = 1024 * 1024,  // update.cfg
    MaxSignatureBytes = 4096,        // update.cfg.sig
    TransferRetries = 3,
    MinimumRateBytes = 64 * 1024,
    // Transfers in flight at most, all to the one update server; chosen with the benchmark.
    MaxTransferSlots = LAUNCHER_TRANSFER_SLOTS,
};

// The list and its signature: whole within the time-out of their request, bounded, never retried, so
// the window shows within about two time-outs whatever the server does. Game files: retried,
// resumed, and abandoned below 64 KiB per two time-outs.
TransferLimits ManifestLimits(uint64_t maxBytes, unsigned timeoutSeconds);
TransferLimits GameFileLimits(unsigned timeoutSeconds);

// How one attempt ended.
enum TransferFailure {
    TransferDone,
    TransferCut,             // cut, refused, or a body shorter than announced
    TransferTimedOut,
    TransferServerError,     // 5xx
    TransferClientError,     // 4xx, never retried
    TransferRangeRefused,    // 416, or a resumed answer that did not start where asked: start over
    TransferTooLarge,        // longer than the bound
    TransferDigestMismatch,  // whole, but not the listed digest
    TransferLocalError,      // the folder refused the file
};

// Failures that a later attempt may overcome: cuts, time-outs, 5xx and refused ranges. They are retried, and
// what arrived before them is kept for the next attempt or the next start.
bool IsTransientFailure(TransferFailure failure);

enum RetryAction { GiveUp, RetryResuming, RetryFromStart };

// What follows a failed attempt; attemptsMade counts every attempt so far, retriesAllowed is the
// limit's retries. A mismatching body is fetched once more from the start (refetchedAfterMismatch
// says whether that was done), then given up.
RetryAction NextAttempt(TransferFailure failure, int attemptsMade, int retriesAllowed, bool refetchedAfterMismatch);

// Milliseconds before retry number retry (1, 2, 3, ...): about 1, 2, 4 s, each within +-25%
// chosen by random (any 32-bit value), so that many players cut at once do not return at once.
unsigned RetryDelayMs(int retry, uint32_t random);

enum RangeVerdict {
    RangeWholeBody,  // the body is the whole file from its first byte: it replaces what waited
    RangeAppend,     // the body is the rest from the offset asked for
    RangeStartOver,  // unusable: what waited and what arrived both go
};

// Reads the answer to a request that asked for the file from byte requestedFrom on (0: the whole
// file, no Range header). contentRange is the Content-Range value, or null.
RangeVerdict JudgeRangeAnswer(uint64_t requestedFrom, int httpStatus, const char* contentRange);

// The file's length from the Content-Range of a 416 answer, "bytes */LENGTH".
bool UnsatisfiedRangeLength(const char* value, int64_t* total);

// The first byte and the full length of "bytes FIRST-LAST/LENGTH" (LENGTH may be "*": total -1).
bool ParseContentRange(const char* value, uint64_t* first, int64_t* total, uint64_t* last = nullptr);

// Reads the answer to a request for bytes first to last (both included) of a file of fileLength bytes: null
// when it is a 206 for exactly that range of a file of that length, otherwise why it cannot be used.
const char* JudgeClosedRangeAnswer(uint64_t first, uint64_t last, uint64_t fileLength, int httpStatus,
                                   const char* contentRange);

// Name of the partial body of a listed file in the staging folder: the listed digest, and the
// digest's occurrence number among the pending files when several list the same content, so that
// it is found again on the next start while the list names that digest.
bool MakePartialName(const char* digest, int occurrence, char* name, size_t size);
// The digest a staging file name keeps a partial for (40 hexadecimal digits into digest, 41 bytes);
// false for any other name.
bool PartialNameDigest(const char* fileName, char* digest);
