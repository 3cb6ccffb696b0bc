// Transfer policy without the network: which failures are retried and how, retry delays, answers to a resumed request, partial names.
#include <gtest/gtest.h>

#include <string>

#include "updater/net/transfer.h"

TEST(TransferPolicy, RetriesTransientFailuresOnlyAndAMismatchOnce) {
    struct Case {
        TransferFailure failure;
        int attemptsMade;
        bool refetched;
        RetryAction action;
    } cases[] = {
        {TransferCut, 1, false, RetryResuming},
        {TransferTimedOut, 3, false, RetryResuming},
        {TransferServerError, 2, false, RetryResuming},
        {TransferCut, 4, false, GiveUp},  // 1 attempt and 3 retries
        {TransferClientError, 1, false, GiveUp},
        {TransferTooLarge, 1, false, GiveUp},
        {TransferLocalError, 1, false, GiveUp},
        {TransferRangeRefused, 1, false, RetryFromStart},
        {TransferDigestMismatch, 1, false, RetryFromStart},
        {TransferDigestMismatch, 2, true, GiveUp},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.action, NextAttempt(c.failure, c.attemptsMade, TransferRetries, c.refetched))
            << c.failure << " after " << c.attemptsMade;
    }
    // The list and its signature are never retried.
    EXPECT_EQ(GiveUp, NextAttempt(TransferCut, 1, ManifestLimits(MaxManifestBytes, 30).retries, false));
}

TEST(TransferPolicy, RetryDelaysDoubleWithinAQuarter) {
    const unsigned base[] = {1000, 2000, 4000};
    for (int retry = 1; retry <= 3; ++retry) {
        unsigned low = RetryDelayMs(retry, 0), high = RetryDelayMs(retry, 999);
        EXPECT_EQ(base[retry - 1] * 3 / 4, low);
        EXPECT_LT(high, base[retry - 1] * 5 / 4);
        EXPECT_GT(high, base[retry - 1]);
    }
}

TEST(TransferPolicy, ReadsWhatArrivedOrWhatFlowsInAMoment) {
    const struct {
        uint32_t available;
        uint64_t stored, elapsedMs;
        uint32_t expected;
    } rows[] = {
        {8192, 0, 0, 8192},                 // the first read: what arrived
        {8192, 100000000, 1000, 65536},     // 100 MB/s: a whole buffer
        {8192, 2000000, 1000, 65536},       // 2 MB/s brings 200 KB in 100 ms
        {1024, 100000, 1000, 10000},        // 100 KB/s: about 100 ms of it
        {4096, 10000, 1000, 4096},          // a trickle: only what arrived
        {200000, 0, 0, 65536},              // never more than the buffer
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.expected, NextReadSize(row.available, row.stored, row.elapsedMs, 65536))
            << row.available << " " << row.stored << " " << row.elapsedMs;
    }
}

TEST(TransferPolicy, ReadsTheAnswerToAResumedRequest) {
    struct Case {
        uint64_t from;
        int status;
        const char* contentRange;
        RangeVerdict verdict;
    } cases[] = {
        {0, 200, nullptr, RangeWholeBody},
        {1000, 200, nullptr, RangeWholeBody},  // Range ignored: the body is the whole file
        {1000, 206, "bytes 1000-1999/2000", RangeAppend},
        {1000, 206, "Bytes 1000-1999/*", RangeAppend},
        {1000, 206, "bytes 0-1999/2000", RangeStartOver},  // not where asked
        {1000, 206, "bytes 1000-999/2000", RangeStartOver},
        {1000, 206, "bytes 1000-1999/1999", RangeStartOver},
        {1000, 206, nullptr, RangeStartOver},
        {1000, 206, "bytes=1000-1999/2000", RangeStartOver},
        {1000, 416, "bytes */2000", RangeStartOver},
        {1000, 503, nullptr, RangeStartOver},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.verdict, JudgeRangeAnswer(c.from, c.status, c.contentRange))
            << c.status << " " << (c.contentRange ? c.contentRange : "-");
    }
}

TEST(TransferPolicy, ReadsTheAnswerToAClosedRange) {
    // Bytes 1000 to 1999 of a file of 5000 bytes.
    struct Case {
        int status;
        const char* contentRange;
        bool usable;
    } cases[] = {
        {206, "bytes 1000-1999/5000", true},
        {200, nullptr, false},                      // Range ignored
        {206, "bytes 1000-4999/5000", false},       // the rest, not the range
        {206, "bytes 0-999/5000", false},
        {206, "bytes 1000-1999/6000", false},       // another file than the index describes
        {206, "bytes 1000-1999/*", false},
        {206, nullptr, false},
        {416, "bytes */5000", false},
        {503, nullptr, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.usable, JudgeClosedRangeAnswer(1000, 1999, 5000, c.status, c.contentRange) == nullptr)
            << c.status << " " << (c.contentRange ? c.contentRange : "-");
    }
}

TEST(TransferPolicy, PartialNamesCarryTheListedDigest) {
    const char* digest = "A9993E364706816ABA3E25717850C26C9CD0D89D";
    char name[100];
    ASSERT_TRUE(MakePartialName(digest, 0, name, sizeof name));
    EXPECT_EQ(std::string("Launcher staging\\a9993e364706816aba3e25717850c26c9cd0d89d.part"), name);
    ASSERT_TRUE(MakePartialName(digest, 2, name, sizeof name));
    EXPECT_EQ(std::string("Launcher staging\\a9993e364706816aba3e25717850c26c9cd0d89d.2.part"), name);
    EXPECT_FALSE(MakePartialName("not a digest", 0, name, sizeof name));
    EXPECT_FALSE(MakePartialName(digest, 0, name, 20));

    char found[41];
    EXPECT_TRUE(PartialNameDigest("a9993e364706816aba3e25717850c26c9cd0d89d.part", found));
    EXPECT_EQ(std::string("a9993e364706816aba3e25717850c26c9cd0d89d"), found);
    EXPECT_TRUE(PartialNameDigest("a9993e364706816aba3e25717850c26c9cd0d89d.12.part", found));
    for (const char* other : {"a9993e364706816aba3e25717850c26c9cd0d89d", "sprites#ui#x.bmp",
                              "a9993e364706816aba3e25717850c26c9cd0d89d..part",
                              "a9993e364706816aba3e25717850c26c9cd0d89d.x.part",
                              "z9993e364706816aba3e25717850c26c9cd0d89d.part"}) {
        EXPECT_FALSE(PartialNameDigest(other, found)) << other;
    }
}

TEST(TransferPolicy, JudgesAnAttemptStatusFirst) {
    // A resumed request from byte 1000 of a 2000-byte file, or a whole one (from 0).
    struct Case {
        uint64_t from;
        int status;
        const char* contentRange;
        int64_t announced;
        uint64_t stored;
        bool ended, timedOut, tooLarge, writeFailed;
        TransferFailure failure;
        DownloadLineKind kind;
        int64_t placement;
    } cases[] = {
        {0, 200, nullptr, 2000, 2000, true, false, false, false, TransferDone, LineComplete, 0},
        {0, 200, nullptr, -1, 2000, true, false, false, false, TransferDone, LineComplete, 0},  // chunked
        {1000, 206, "bytes 1000-1999/2000", 1000, 1000, true, false, false, false, TransferDone, LineComplete, 1000},
        {1000, 200, nullptr, 2000, 2000, true, false, false, false, TransferDone, LineComplete, 0},  // Range ignored
        {1000, 416, "bytes */1000", 0, 0, true, false, false, false, TransferDone, LineComplete, -1},  // already whole
        // HTTP errors: judged before a time-out or a cut in their bodies.
        {0, 404, nullptr, 50, 0, false, true, false, false, TransferClientError, LineUrlInvalid, -1},
        {0, 407, nullptr, 50, 50, true, false, false, false, TransferClientError, LineProxyRefused, -1},
        {0, 503, nullptr, 50, 0, false, false, false, false, TransferServerError, LineUrlInvalid, -1},
        {1000, 500, nullptr, -1, 0, true, false, true, false, TransferServerError, LineUrlInvalid, -1},
        {1000, 416, "bytes */2000", 0, 0, true, false, false, false, TransferRangeRefused, LineUrlInvalid, -1},
        {1000, 416, nullptr, 0, 0, true, false, false, false, TransferRangeRefused, LineUrlInvalid, -1},
        // Answers that are no HTTP error but not the file either.
        {1000, 206, "bytes 0-1999/2000", 2000, 0, true, false, false, false, TransferRangeRefused, LineError, -1},
        {0, 304, nullptr, 0, 0, true, false, false, false, TransferCut, LineError, -1},
        {0, 0, nullptr, -1, 0, false, false, false, false, TransferCut, LineError, -1},  // no answer
        {0, 0, nullptr, -1, 0, false, true, false, false, TransferTimedOut, LineTimedOut, -1},
        // How the body ended.
        {0, 200, nullptr, 2000, 1000, true, false, false, false, TransferCut, LineError, 0},   // short
        {0, 200, nullptr, -1, 1000, false, false, false, false, TransferCut, LineError, 0},   // broken off
        {0, 200, nullptr, 2000, 1500, false, true, false, false, TransferTimedOut, LineTimedOut, 0},
        {0, 200, nullptr, 9000, 0, false, false, true, false, TransferTooLarge, LineTooLarge, 0},
        {0, 200, nullptr, 2000, 100, false, true, true, false, TransferTooLarge, LineTooLarge, 0},
        {0, 200, nullptr, 2000, 100, false, false, false, true, TransferLocalError, LineError, 0},
    };
    for (const Case& c : cases) {
        AttemptFacts facts{c.from, c.status, c.contentRange, c.announced, c.stored, c.ended, c.timedOut, c.tooLarge,
                           c.writeFailed};
        AttemptVerdict verdict = JudgeAttempt(facts);
        EXPECT_EQ(c.failure, verdict.failure) << c.from << " " << c.status << " " << c.stored;
        EXPECT_EQ(c.kind, verdict.kind) << c.from << " " << c.status << " " << c.stored;
        EXPECT_EQ(c.placement, BodyPlacement(c.from, c.status, c.contentRange)) << c.from << " " << c.status;
    }
    // A volume at its reserve stops the file for good in this run, and keeps what arrived.
    AttemptFacts low{0, 200, nullptr, 2000, 100, false, false, false, false, true};
    EXPECT_EQ(TransferDiskFull, JudgeAttempt(low).failure);
    EXPECT_EQ(LineDiskFull, JudgeAttempt(low).kind);
    EXPECT_FALSE(IsTransientFailure(TransferDiskFull));
    EXPECT_EQ(GiveUp, NextAttempt(TransferDiskFull, 1, TransferRetries, false));
}
