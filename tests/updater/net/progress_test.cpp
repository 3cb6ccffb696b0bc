// A player's view of a run: status and summary lines, the measured rate, the space a run needs, the shared limit.
#include <gtest/gtest.h>

#include <string>

#include "updater/net/progress.h"

TEST(TransferStatus, SaysBytesRateAndTimeLeftOnlyWhenItKnowsThem) {
    const struct {
        uint64_t arrived, total;
        double rate;
        bool steady;
        const char* line;
    } cases[] = {
        {23400000, 95500000, 11200000, true, "23.4 of 95.5 MB - 11.2 MB/s - about 7 s left"},
        {23400000, 95500000, 11200000, false, "23.4 of 95.5 MB - 11.2 MB/s"},  // the rate not steady yet
        {0, 95500000, 0, true, "0.0 of 95.5 MB - 0.0 MB/s"},                  // nothing arrived yet
        {5000000, 0, 2000000, true, "5.0 MB - 2.0 MB/s"},                     // no total known
        {9000000, 8000000, 1000000, true, "9.0 MB - 1.0 MB/s"},               // more than announced
        {0, 600000000, 1000000, true, "0.0 of 600.0 MB - 1.0 MB/s - about 10 min left"},
        {94500000, 95500000, 2000000, true, "94.5 of 95.5 MB - 2.0 MB/s - about 1 s left"},  // rounded up
    };
    for (const auto& c : cases) {
        char line[120];
        FormatTransferStatus(line, sizeof line, c.arrived, c.total, c.rate, c.steady);
        EXPECT_STREQ(c.line, line);
    }
    char summary[60];
    FormatTransferSummary(summary, sizeof summary, 95500000, 9400);
    EXPECT_STREQ("95.5 MB in 9 s", summary);
    FormatNoSpaceLine(summary, sizeof summary, 64000001, 63999999);
    EXPECT_STREQ("Not enough disk space: 65 MB needed, 63 MB free", summary);
}

TEST(TransferStatus, MeasuresTheRateOverTheLastSeconds) {
    TransferMeter meter;
    EXPECT_EQ(0, meter.Sample(1000));
    for (uint64_t ms = 1250; ms <= 4000; ms += 250) {
        meter.Add(250000);  // 1 MB/s
        double rate = meter.Sample(ms);
        EXPECT_NEAR(1000000, rate, 1) << ms;
        EXPECT_EQ(ms >= 4000, meter.Steady()) << ms;
    }
    // The line slows down: after a window the old rate no longer counts.
    for (uint64_t ms = 4250; ms <= 8000; ms += 250) {
        meter.Add(25000);
        meter.Sample(ms);
    }
    meter.Add(25000);
    EXPECT_NEAR(100000, meter.Sample(8250), 1000);
}

TEST(DiskSpace, CountsEveryNewCopyLessWhatWaitsAlready) {
    const SpaceItem items[] = {
        {1000, 0, false},    // a new file
        {1000, 400, false},  // its partial waits already
        {1000, 5000, false}, // a partial longer than the file counts for the file at most
        {3000, 700, true},   // rebuilt whole beside the old copy
        {0, 0, false},       // no length known
    };
    EXPECT_EQ(1000u + 600u + 0u + 3000u, SpaceNeeded(items, 5));
    EXPECT_EQ(0u, SpaceNeeded(items, 0));
}

TEST(TransferGate, HoldsTheRateOfAllTransfersTogether) {
    // Two transfers reading 64 KiB at a time under a limit of 2 MB/s for 10 simulated seconds.
    TransferGate gate;
    gate.SetLimit(2000000);
    uint64_t now = 1, passed = 0;
    while (now < 10000) {
        for (int transfer = 0; transfer < 2; ++transfer) {
            uint64_t wait = gate.ReserveMs(65536, now);
            if (wait == 0) passed += 65536;
            now += wait ? wait : 1;
        }
    }
    EXPECT_NEAR(20000000.0, (double)passed, 2000000.0);  // within 10%

    gate.SetLimit(0);
    EXPECT_EQ(0u, gate.ReserveMs(1 << 20, now));  // no limit: never a wait
    gate.SetPaused(true);
    EXPECT_FALSE(gate.Pass(1, [] { return (uint64_t)1; }));
    EXPECT_FALSE(gate.WaitWhilePaused(10));
    gate.SetPaused(false);
    EXPECT_TRUE(gate.WaitWhilePaused(10));
    EXPECT_TRUE(gate.Pass(1, [] { return (uint64_t)1; }));
}
