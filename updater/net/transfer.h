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
    // The answer's head must arrive this long after the request, connection included; 0: only the silence bound.
    // Set where another host can be asked instead, so that a host that accepts and says nothing costs little.
    unsigned firstByteMs = 0;
};

enum {
    MaxManifestBytes = 1024 * 1024,  // update.cfg
    MaxSignatureBytes = 4096,        // update.cfg.sig
    TransferRetries = 3,
    MinimumRateBytes = 64 * 1024,
    // Transfers in flight at most, all to the one update server; chosen with the benchmark.
    MaxTransferSlots = LAUNCHER_TRANSFER_SLOTS,
    // With several hosts each host that works has MaxTransferSlots of its own, up to this many in all.
    MaxTransfersInFlight = 2 * MaxTransferSlots,
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
    TransferDiskFull,        // the volume reached its reserve: stopped, what arrived kept for a later start
};

// Failures that a later attempt may overcome: cuts, time-outs, 5xx and refused ranges. They are retried, and
// what arrived before them is kept for the next attempt or the next start.
bool IsTransientFailure(TransferFailure failure);

// The outcome line of a transfer.
enum DownloadLineKind {
    LineComplete,        // "Download: %s complete."
    LineUrlInvalid,      // "URL is invalid: %s." (an HTTP error answer)
    LineOutOfMemory,     // "Buffer length invalid, or insufficient memory: %s"
    LineError,           // "Download: %s, error: %d" (every other failure, with the thread's last error)
    LineDigestMismatch,  // "Download: %s does not match its digest (%s - %s)."
    LineTimedOut,        // "Download: %s timed out."
    LineTooLarge,        // "Download: %s is larger than %llu bytes."
    LineSignedMismatch,  // "Download: %s does not match its signed length and SHA-256."
    LineProxyRefused,    // "Download: %s refused by the proxy: it asks for a user name and password (407)."
    LineDiskFull,        // "Download: %s stopped: the disk is nearly full."
};

// What one attempt saw: the answer's head, then how its body ended.
struct AttemptFacts {
    uint64_t requestedFrom;    // the offset of "Range: bytes=N-" (0: no Range)
    int httpStatus;            // 0: no answer arrived
    const char* contentRange;  // the answer's Content-Range value, or null
    int64_t announced;         // the body length the answer announced, -1 when unknown
    uint64_t stored;           // body bytes stored
    bool ended;                // the body was read to its end
    bool timedOut;             // abandoned for a time bound
    bool tooLarge;             // longer than its bound
    bool writeFailed;          // the staging folder refused what arrived
    bool diskLow = false;      // stopped since the volume reached its reserve
};

struct AttemptVerdict {
    TransferFailure failure;   // TransferDone: the partial body is whole and may be checked and installed
    DownloadLineKind kind;     // the outcome line, should the attempt be the last
};

// Judges one attempt, the HTTP status first: 5xx is a server error and any other 4xx a client error ("URL is
// invalid"; a 407 is the proxy's, told as such), a 416 to a partial that is already whole is a whole file, a 416 or a 206 that does not start where
// asked is a refused range; then a body over its bound, a time-out, a local failure and a body that did not end
// or ended short of its announced length (a cut, told with the thread's last error).
AttemptVerdict JudgeAttempt(const AttemptFacts& facts);

// Where the body of an answer to a request from byte requestedFrom goes in the partial: a whole body (200) from
// its start, the rest asked for (a 206 from that byte) at requestedFrom, anything else nowhere (-1).
int64_t BodyPlacement(uint64_t requestedFrom, int httpStatus, const char* contentRange);

enum RetryAction { GiveUp, RetryResuming, RetryFromStart };

// What follows a failed attempt; attemptsMade counts every attempt so far, retriesAllowed is the
// limit's retries. A mismatching body is fetched once more from the start (refetchedAfterMismatch
// says whether that was done), then given up.
RetryAction NextAttempt(TransferFailure failure, int attemptsMade, int retriesAllowed, bool refetchedAfterMismatch);

// Milliseconds before retry number retry (1, 2, 3, ...): about 1, 2, 4 s, each within +-25%
// chosen by random (any 32-bit value), so that many players cut at once do not return at once.
unsigned RetryDelayMs(int retry, uint32_t random);

// The bytes to ask the network for next, into a buffer of bufferSize: what has arrived already (available), or, while
// the body flows, what it brings in about 100 ms at its rate so far (stored bytes in elapsedMs), whichever is more.
// Asking only for what arrived keeps every read short on a slow line, so that the watchdog sees each piece, a pause
// stops at once and what arrived is on disk; but a network layer that reports only its own small buffer as
// available would then cost a call per few kilobytes on a fast line.
uint32_t NextReadSize(uint32_t available, uint64_t stored, uint64_t elapsedMs, uint32_t bufferSize);

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
