// Transfer policy without the network: which failures are retried and how, retry delays, answers to a resumed request, partial names.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "updater/net/multipart.h"
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

// The file's byte at offset, so that any byte of any range tells where it came from.
static char FileByte(uint64_t offset) {
    return (char)('a' + offset % 26);
}

// Keeps each range's bytes and whether it was told done; refuses a write outside a started range.
struct RecordedRanges : RangeOutput {
    std::string bytes[3];
    bool done[3] = {};
    int started = -1;
    bool Start(size_t range) override { return bytes[started = (int)range].empty(); }
    bool Write(size_t range, const char* data, size_t size) override {
        bytes[range].append(data, size);
        return (int)range == started && !done[range];
    }
    bool Done(size_t range) override { return done[range] = true; }
};

TEST(TransferPolicy, ReadsSeveralRangesFromOneAnswerStrictly) {
    const ByteRange asked[] = {{10, 5}, {100, 3}, {200, 4}};
    auto data = [](uint64_t first, uint64_t last) {
        std::string text;
        for (uint64_t o = first; o <= last; ++o) text += FileByte(o);
        return text;
    };
    auto part = [&](uint64_t first, uint64_t last, uint64_t total = 1000, const char* eol = "\r\n") {
        return std::string(eol) + "--XyZ" + eol + "Content-Type: application/octet-stream" + eol +
               "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(total) + eol + eol + data(first, last);
    };
    const std::string a = part(10, 14), b = part(100, 102), c = part(200, 203), end = "\r\n--XyZ--\r\n";
    const char* multipart = "multipart/byteranges; boundary=XyZ";
    struct Case {
        const char* name;
        int status;
        const char* type;
        const char* range;
        std::string body;
        const char* problem;  // what End or Feed says; null: every arrived range is whole
        const char* arrived;  // which of the asked ranges arrived whole
    } cases[] = {
        {"in order", 206, multipart, nullptr, "preamble\r\n" + a + b + c + end, nullptr, "111"},
        {"out of order", 206, "Multipart/ByteRanges; charset=x; boundary=\"XyZ\"", nullptr, c + a + b + end, nullptr, "111"},
        {"LF line ends", 206, multipart, nullptr,
         part(10, 14, 1000, "\n") + part(100, 102, 1000, "\n") + part(200, 203, 1000, "\n") + "\n--XyZ-- \n",
         "the multipart answer is malformed", "000"},
        {"a range not asked", 206, multipart, nullptr, a + part(100, 103) + c + end, "the server answered another range", "100"},
        {"another file length", 206, multipart, nullptr, a + part(100, 102, 999),
         "the server's file has another length than its block index", "100"},
        {"a range twice", 206, multipart, nullptr, a + a, "the server answered a range twice", "100"},
        {"a part one byte short", 206, multipart, nullptr, a + b.substr(0, b.size() - 1) + c + end,
         "a part of the multipart answer has another length than its range", "100"},
        {"a part two bytes short", 206, multipart, nullptr, a + b.substr(0, b.size() - 2) + c + end,
         "a part of the multipart answer has another length than its range", "100"},
        {"a range left out", 206, multipart, nullptr, a + c + end, "the server left out a range asked for", "101"},
        {"no final boundary", 206, multipart, nullptr, a + b + c + "\r\n", "the multipart answer has no final boundary", "111"},
        {"cut inside a part", 206, multipart, nullptr, a + b.substr(0, b.size() - 1), "a range arrived cut short", "100"},
        {"coalesced", 206, nullptr, "bytes 10-203/1000", data(10, 203), nullptr, "111"},
        {"only the first", 206, nullptr, "bytes 10-14/1000", data(10, 14), nullptr, "100"},
        {"coalesced, cut", 206, nullptr, "bytes 10-203/1000", data(10, 150), "a range arrived cut short", "110"},
        {"coalesced, too long", 206, nullptr, "bytes 10-203/1000", data(10, 204), "the server answered another range", "111"},
    };
    for (const Case& row : cases) {
        // Fed whole, then a byte at a time, then in pieces of 7: a boundary or a header split anywhere.
        for (size_t piece : {row.body.size(), (size_t)1, (size_t)7}) {
            RecordedRanges out;
            RangesAnswerReader reader(asked, 3, 1000, out);
            EXPECT_EQ(row.type ? RangesAnswerReader::Multipart : RangesAnswerReader::OneRange,
                      reader.Begin(row.status, row.type, row.range)) << row.name;
            const char* problem = nullptr;
            for (size_t at = 0; at < row.body.size() && !problem; at += piece) {
                if (!reader.Feed(row.body.data() + at, std::min(piece, row.body.size() - at))) problem = reader.Problem();
            }
            if (!problem) problem = reader.End();
            EXPECT_STREQ(row.problem, problem) << row.name << " in pieces of " << piece;
            for (int i = 0; i < 3; ++i) {
                std::string whole;
                for (uint64_t o = asked[i].offset; o < asked[i].offset + asked[i].length; ++o) whole += FileByte(o);
                EXPECT_EQ(row.arrived[i] == '1', out.done[i] && reader.Arrived(i)) << row.name << " range " << i;
                if (out.done[i]) {
                    EXPECT_EQ(whole, out.bytes[i]) << row.name << " range " << i;
                }
            }
        }
    }
    // Neither several ranges nor one from the first asked byte: not read, the ranges are then asked one by one.
    RecordedRanges out;
    RangesAnswerReader reader(asked, 3, 1000, out);
    EXPECT_EQ(RangesAnswerReader::Unusable, reader.Begin(200, "application/octet-stream", nullptr));
    EXPECT_EQ(RangesAnswerReader::Unusable, reader.Begin(206, nullptr, "bytes 100-102/1000"));
    EXPECT_EQ(RangesAnswerReader::Unusable, reader.Begin(206, nullptr, "bytes 10-300/1000"));
    EXPECT_EQ(RangesAnswerReader::Unusable, reader.Begin(206, "multipart/byteranges", nullptr));
    EXPECT_EQ(RangesAnswerReader::Unusable, reader.Begin(416, nullptr, "bytes */1000"));
    char header[64];
    EXPECT_TRUE(FormatRangeHeader(asked, 3, header, sizeof header));
    EXPECT_STREQ("bytes=10-14,100-102,200-203", header);
    EXPECT_FALSE(FormatRangeHeader(asked, 3, header, 20));
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
