// Transport: one HTTP GET into a staging file over the process's WinINet session (transport_win.cpp); any
// transfer thread, up to MaxTransferSlots at once plus the start-up's.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

#include "updater/net/transfer.h"
#include "updater/sha1.h"
#include "updater/trust/sha256.h"

// Takes an answer's body in place of a staging file: a request for several ranges at once. The pause and the
// download limit hold its body as any other; the run's meter is left to the sink, which counts what it keeps.
struct BodySink {
    // Given the answer's status and head ("Name: value" lines ended by CR LF), whether its body is to be read.
    virtual bool Begin(int status, const char* headers) = 0;
    // The next piece of the body; false stops the transfer there.
    virtual bool Take(const char* data, size_t size) = 0;
};

// The digests of a body stored from the staging file's start, taken as its pieces are written, so that the file
// need not be read back to be checked.
struct StreamDigests {
    bool sha256Wanted = false;  // a signed length and SHA-256 will be checked as well as the listed SHA-1
    bool whole = false;         // set by the transport: the stored file is exactly what went through them
    uint64_t bytes = 0;         // of the stored file, when whole
    Sha1 sha1;
    Sha256 sha256;
};

struct TransportRequest {
    const char* url;          // "http://host[:port]/..."
    uint64_t rangeFirst;      // "Range: bytes=FIRST-" when not 0, or "bytes=FIRST-LAST" with closedRange
    uint64_t rangeLast;
    bool closedRange;
    bool bounded;             // whether the stored body may be at most maxBytes (less the offset of a resumed one)
    uint64_t maxBytes;
    TransferLimits limits;    // time bounds, watched while the body arrives
    const char* into;         // the staging file
    // Given the answer's status and Content-Range (null when absent), where its body starts in the staging file
    // (what lay beyond is cut off), or -1 when the body is not stored at all.
    std::function<int64_t(int status, const char* contentRange)> place;
    // A run's file without a signed length: its length is added to the run's total from the first answer that
    // tells it (set once it did), so that the status line knows the total while the body arrives. Null: not counted.
    bool* totalCounted = nullptr;
    // Several ranges: "Range: bytes=..." sent as given in place of rangeFirst and rangeLast, and the body handed to
    // sink (unbounded here: the sink bounds it) instead of stored in into. Null: a plain request.
    const char* rangeHeader = nullptr;
    BodySink* sink = nullptr;
    // When set, a body stored from the file's start is digested as it is written (digests->whole tells so).
    StreamDigests* digests = nullptr;
};

struct TransportResult {
    int status = 0;            // 0: no answer arrived
    std::string contentRange;  // empty when absent
    int64_t announced = -1;    // the body length the answer announced, -1 when unknown
    uint64_t stored = 0;       // body bytes written to the staging file
    bool ended = false;        // the body was read to its end
    bool timedOut = false;     // abandoned by the watchdog (silence, whole time, minimum rate) or the network layer
    bool tooLarge = false;     // longer than its bound: stopped there
    bool writeFailed = false;  // the staging file refused what arrived
    bool diskLow = false;      // stopped since the volume reached its reserve
    bool paused = false;       // the player paused: stopped, what arrived kept
    long lastError = 0;        // the thread's last error where the transfer failed
};

// Sends the request over a kept-alive slot and streams the body, as it arrives, into request.into through one
// fixed buffer, so that a kill loses at most that buffer. Never retries. Safe on any thread.
void Transport(const TransportRequest& request, TransportResult* result);

// The host (with its port) and the object ("/..." with any query) of an "http://" URL; false for another form
// or a host longer than hostSize allows.
bool SplitHttpUrl(const char* url, char* host, size_t hostSize, unsigned* port, const char** object);
