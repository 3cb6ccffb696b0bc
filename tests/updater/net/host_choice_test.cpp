// The choice of host per transfer and failover, run as scripts of begun, completed and failed attempts; the ranking
// file; the list-host loop and its lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "updater/net/host_choice.h"

namespace {

const std::string A = "http://127.0.0.1:18760/Quorvane/", B = "http://127.0.0.2:18760/Quorvane/",
                  C = "http://127.0.0.3:18760/Quorvane/", D = "http://localhost:18760/Quorvane/",
                  E = "http://cdn.example.com/q/";

enum Op { Start, Done, Fail, Skip };

struct Step {
    Op op;
    int file;
    int host;  // Start: the host expected (-1: given up); Done, Fail: the host of the attempt
    double rate = 0;  // Done: MB/s of a 1 MB transfer; Fail: the failure
    bool dropped = false;  // Fail: whether the host is dropped by it
    double seconds = 0;    // Fail: seconds spent on it, with 100 kB received
};

Step Ok(int file, int host, double megabytesPerSecond) { return {Done, file, host, megabytesPerSecond}; }
Step Bad(int file, int host, HostFailure failure, bool dropped = false) {
    return {Fail, file, host, (double)failure, dropped};
}
Step Slow(int file, int host, double seconds) { return {Fail, file, host, (double)HostTooSlow, false, seconds}; }

}  // namespace

TEST(HostChoice, ChoosesFailsOverAndGivesUp) {
    const struct {
        const char* what;
        std::vector<std::string> hosts;
        std::vector<HostRate> seed;
        std::vector<Step> steps;
        int slotsPerHost = 0;  // 0: unbounded
    } cases[] = {
        {"one host: 4 attempts of a file, as the transport's retries", {A}, {},
         {{Start, 0, 0}, Bad(0, 0, HostTimedOut), {Start, 0, 0}, Bad(0, 0, HostRefused), {Start, 0, 0},
          Bad(0, 0, HostBadBody), {Start, 0, 0}, Bad(0, 0, HostServerError), {Start, 0, -1}}},
        {"one host: no retry after a 4xx", {A}, {}, {{Start, 0, 0}, Bad(0, 0, HostClientError), {Start, 0, -1}}},
        {"an abandoned attempt (a patch that did not apply) costs nothing of the budget", {A}, {},
         {{Start, 0, 0}, Bad(0, 0, HostCut), {Start, 0, 0}, {Skip, 0, 0}, {Start, 0, 0}, Bad(0, 0, HostCut),
          {Start, 0, 0}, Bad(0, 0, HostCut), {Start, 0, 0}, Bad(0, 0, HostCut), {Start, 0, -1}}},
        {"one host is never dropped", {A}, {},
         {{Start, 0, 0}, Bad(0, 0, HostCut), {Start, 1, 0}, Bad(1, 0, HostCut), {Start, 2, 0}, Bad(2, 0, HostCut),
          {Start, 3, 0}, Bad(3, 0, HostCut), {Start, 4, 0}}},
        {"unmeasured hosts first, then by share of the rate", {A, B, C}, {},
         {{Start, 0, 0}, {Start, 1, 1}, {Start, 2, 2}, Ok(0, 0, 1), Ok(1, 1, 4), Ok(2, 2, 2),
          // B 4/1, then B 4/2 = C 2/1 (the earlier wins), then C 2/1 > B 4/3, then B 4/3 > A 1/1 and C 2/2.
          {Start, 3, 1}, {Start, 4, 1}, {Start, 5, 2}, {Start, 6, 1}}},
        {"two equal hosts share the slots", {A, B}, {},
         {{Start, 0, 0}, {Start, 1, 1}, Ok(0, 0, 10), Ok(1, 1, 10), {Start, 2, 0}, {Start, 3, 1}, {Start, 4, 0},
          {Start, 5, 1}}},
        {"a failed file goes to a host that has not failed it, even the slowest", {A, B, C}, {},
         {{Start, 0, 0}, {Start, 1, 1}, {Start, 2, 2}, Ok(0, 0, 9), Ok(1, 1, 1), Ok(2, 2, 5),
          {Start, 3, 0}, Bad(3, 0, HostBadBody), {Start, 3, 2}, Bad(3, 2, HostServerError), {Start, 3, 1},
          Bad(3, 1, HostTooSlow),
          // Every host failed it: a retry within the budget, on the fastest that did not answer 4xx.
          {Start, 3, 0}, Bad(3, 0, HostCut), {Start, 3, -1}}},
        {"4xx everywhere gives up at once", {A, B}, {},
         {{Start, 0, 0}, Bad(0, 0, HostClientError), {Start, 0, 1}, Bad(0, 1, HostClientError), {Start, 0, -1}}},
        {"a retry never goes where a 4xx came from", {A, B}, {},
         {{Start, 0, 0}, Bad(0, 0, HostClientError), {Start, 0, 1}, Bad(0, 1, HostTimedOut), {Start, 0, 1},
          Bad(0, 1, HostTimedOut), {Start, 0, 1}}},
        {"beyond the budget while a host has not failed the file", {A, B, C, D, E}, {},
         {{Start, 0, 0}, Bad(0, 0, HostRefused), {Start, 0, 1}, Bad(0, 1, HostRefused), {Start, 0, 2},
          Bad(0, 2, HostRefused), {Start, 0, 3}, Bad(0, 3, HostRefused), {Start, 0, 4}, Bad(0, 4, HostRefused),
          {Start, 0, -1}}},
        {"dropped after 3 files in a row, for every file", {A, B}, {},
         {{Start, 0, 0}, {Start, 1, 1}, Ok(0, 0, 5), Ok(1, 1, 1), {Start, 2, 0}, Bad(2, 0, HostRefused),
          {Start, 3, 0}, Bad(3, 0, HostTimedOut), {Start, 4, 0}, Bad(4, 0, HostServerError, true), {Start, 2, 1},
          {Start, 5, 1}}},
        {"a success in between resets the count", {A, B}, {},
         {{Start, 0, 0}, {Start, 1, 1}, Ok(0, 0, 2), Ok(1, 1, 1), {Start, 2, 0}, Bad(2, 0, HostCut), {Start, 3, 0},
          Bad(3, 0, HostCut), {Start, 4, 0}, Ok(4, 0, 2), {Start, 5, 0}, Bad(5, 0, HostCut), {Start, 6, 0}}},
        {"a host that failed before it was measured comes last", {A, B, C}, {},
         {{Start, 0, 0}, Bad(0, 0, HostRefused), {Start, 1, 1}, {Start, 2, 2}, Ok(1, 1, 1), {Start, 3, 1},
          {Start, 4, 1}, Ok(2, 2, 1), {Start, 5, 2}, {Start, 0, 2}}},
        {"time lost on a slow attempt counts against the host", {A, B}, {},
         {{Start, 0, 0}, {Start, 1, 1}, Ok(0, 0, 4), Ok(1, 1, 2), {Start, 2, 0}, Slow(2, 0, 10), {Start, 3, 1},
          {Start, 2, 1}, {Start, 4, 1}, {Start, 5, 1}}},
        {"the last run's ranking: known hosts by rate, a failed one last, an unknown one measured first",
         {A, B, C}, {{B, 5000000}, {A, 0}, {E, 9000000}},
         {{Start, 0, 2}, {Start, 1, 1}, {Start, 2, 1}, {Start, 3, 1}, Bad(0, 2, HostRefused), {Start, 0, 1}}},
        {"a host passed over at start-up stays behind one being measured", {A, B}, {{A, 0}},
         {{Start, 0, 1}, {Start, 1, 1}, {Start, 2, 1}, Ok(0, 1, 1), {Start, 3, 1}}},
        {"this run's measure overrides the last run's", {A, B}, {{A, 1000000}, {B, 2000000}},
         {{Start, 0, 1}, Ok(0, 1, 0.1), {Start, 1, 0}, {Start, 2, 0}}},
        {"the fastest host has every slot, a slower one a share by its rate; a file waits for a free slot on a "
         "host that has not failed it",
         {A, B}, {},
         {{Start, 0, 0}, {Start, 1, 1}, Ok(0, 0, 10), Ok(1, 1, 1), {Start, 2, 0}, {Start, 3, 0}, {Start, 4, 1},
          {Start, 5, HostChoice::NoHostFree}, Bad(4, 1, HostCut), {Start, 4, HostChoice::NoHostFree}, Ok(2, 0, 10),
          {Start, 4, 0}},
         2},
        {"a host passed over at start-up has no slot while another may work", {A, B}, {{A, 0}},
         {{Start, 0, 1}, {Start, 1, 1}, {Start, 2, HostChoice::NoHostFree}, Ok(0, 1, 5), {Start, 2, 1}},
         2},
    };
    for (const auto& c : cases) {
        HostChoice choice(c.hosts, 10);
        if (c.slotsPerHost) choice.LimitSlotsPerHost(c.slotsPerHost);
        choice.Seed(c.seed);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            if (step.op == Start) {
                ASSERT_EQ(step.host, choice.Begin(step.file)) << c.what << ", step " << i;
            } else if (step.op == Done) {
                choice.Succeeded(step.file, step.host, 1000000, 1 / step.rate);
            } else if (step.op == Skip) {
                choice.Abandoned(step.file, step.host);
                EXPECT_EQ(0, choice.InFlight(step.host)) << c.what << ", step " << i;
            } else {
                ASSERT_EQ(step.dropped, choice.Failed(step.file, step.host, (HostFailure)(int)step.rate,
                                                      step.seconds > 0 ? 100000 : 0, step.seconds))
                    << c.what << ", step " << i;
                EXPECT_TRUE(choice.FailedBefore(step.file, step.host));
            }
        }
    }
}

TEST(HostChoice, MergesHostsAndRanksThem) {
    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i) many.push_back("http://m" + std::to_string(i) + ".example.com/q/");
    EXPECT_EQ((std::vector<std::string>{A, B, C}), MergeHosts({A, B}, {B, C, A}));
    EXPECT_EQ((size_t)MaxRunHosts, MergeHosts({A}, many).size());

    HostChoice choice({A, B, C, D}, 5);
    choice.Seed({{D, 7}});
    for (int file = 0; file < 3; ++file) ASSERT_EQ(file, choice.Begin(file));
    choice.Succeeded(0, 0, 1000, 1.0);
    choice.Succeeded(1, 1, 8000, 2.0);
    choice.Failed(2, 2, HostRefused);
    const std::vector<HostRate> ranking = choice.Ranking();
    ASSERT_EQ(4u, ranking.size());
    EXPECT_EQ(B, ranking[0].base);
    EXPECT_EQ(4000u, ranking[0].bytesPerSecond);
    EXPECT_EQ(A, ranking[1].base);
    EXPECT_EQ(D, ranking[2].base);  // the last run's rate, not measured again
    EXPECT_EQ(C, ranking[3].base);  // failed unmeasured: rate 0, so the next start tries it last
    EXPECT_EQ(0u, ranking[3].bytesPerSecond);
    const std::string text = FormatHostRanking(ranking);
    EXPECT_EQ("4000 " + B + "\n1000 " + A + "\n7 " + D + "\n0 " + C + "\n", text);
    const std::vector<HostRate> back = ReadHostRanking(text.data(), text.size());
    ASSERT_EQ(4u, back.size());
    EXPECT_EQ(D, back[2].base);
    EXPECT_EQ(7u, back[2].bytesPerSecond);
}

TEST(HostRanking, SkipsWhatIsNotARankingLine) {
    const struct {
        std::string text;
        std::vector<std::string> bases;
    } cases[] = {
        {"", {}},
        {"12 " + A + "5 " + B.substr(0, B.size() - 1) + "\n", {}},  // the first line has no LF of its own
        {"12 " + A + "\n" + "x " + B + "\n" + "-1 " + C + "\n" + "99999999999999999999 " + D + "\n3 " + E + "\n",
         {A, E}},
        {"1 " + A + "\n2 " + A + "\n3  " + B + "\n4 ftp://x/\n\n\r\n5 " + C + "\r\n", {A}},
        {"1 " + A + "\n2 " + B, {A}},  // cut mid-line by a crash
        {std::string(MaxRankingFileSize, '9') + " " + A + "\n", {}},
        {std::string("7 ") + A + "\n" + std::string(3, '\0') + "\n8 " + B + "\n", {A, B}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> bases;
        for (const HostRate& rate : ReadHostRanking(c.text.data(), c.text.size())) bases.push_back(rate.base);
        EXPECT_EQ(c.bases, bases) << c.text;
    }
    std::string many;
    for (int i = 0; i < 40; ++i) many += std::to_string(i) + " http://m" + std::to_string(i) + ".example.com/q/\n";
    EXPECT_EQ((size_t)MaxRunHosts, ReadHostRanking(many.data(), many.size()).size());
}

class HostRankingFile : public InTempFolder {};

TEST_F(HostRankingFile, KeepsTheRankingForTheNextStartAndIgnoresAnOverlongFile) {
    EXPECT_TRUE(LoadHostRanking("ranking.txt").empty());  // none yet
    ASSERT_TRUE(SaveHostRanking("ranking.txt", {{B, 900}, {A, 0}}));
    const std::vector<HostRate> back = LoadHostRanking("ranking.txt");
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ(B, back[0].base);
    EXPECT_EQ(900u, back[0].bytesPerSecond);
    EXPECT_EQ(0u, back[1].bytesPerSecond);
    WriteFile("ranking.txt", "1 " + A + "\n" + std::string(MaxRankingFileSize, '#'));
    EXPECT_TRUE(LoadHostRanking("ranking.txt").empty());
}

TEST(ListHosts, FirstWholeValidAnswerWinsAndEachPassedOverHostIsSaid) {
    const std::vector<std::string> bases = {A, B, C};
    struct Ask {
        int host;
        bool hurried, last;
        const char* answer;  // null for a whole, valid list, else why not
    };
    const char* timedOut = TimedOutProblem;
    const struct {
        const char* what;
        std::vector<Ask> asks;  // in the order expected
        int chosen;
        std::vector<std::string> lines;
        std::vector<int> passedOver;
    } cases[] = {
        {"the origin answers", {{0, true, false, nullptr}}, 0, {}, {}},
        {"the next host after a refusal", {{0, true, false, "connection refused"}, {1, true, false, nullptr}}, 1,
         {"Update server " + A + " passed over: connection refused."}, {0}},
        {"the last host has the whole time-out, and is not the last ask while a host only timed out",
         {{0, true, false, timedOut}, {1, true, false, "the signature is not valid"}, {2, false, false, nullptr}}, 2,
         {"Update server " + A + " passed over: timed out.",
          "Update server " + B + " passed over: the signature is not valid."},
         {0, 1}},
        {"none answers: the last host's own lines say why",
         {{0, true, false, "HTTP 404"}, {1, true, false, "HTTP 503"},
          {2, false, true, "version 5 is older than the installed version 6"}},
         -1, {"Update server " + A + " passed over: HTTP 404.", "Update server " + B + " passed over: HTTP 503."},
         {0, 1, 2}},
        {"a host that only timed out is asked again with the whole time-out once the last failed",
         {{0, true, false, timedOut}, {1, true, false, timedOut}, {2, false, false, "HTTP 404"},
          {0, false, false, nullptr}},
         0,
         {"Update server " + A + " passed over: timed out.", "Update server " + B + " passed over: timed out.",
          "Update server " + C + " passed over: HTTP 404."},
         {1, 2}},
        {"the host asked again last of all tells its own lines",
         {{0, true, false, timedOut}, {1, true, false, "HTTP 404"}, {2, false, false, "connection refused"},
          {0, false, true, timedOut}},
         -1,
         {"Update server " + A + " passed over: timed out.", "Update server " + B + " passed over: HTTP 404.",
          "Update server " + C + " passed over: connection refused."},
         {0, 1, 2}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        std::vector<int> passedOver;
        size_t asked = 0;
        int chosen = ChooseListHost(
            bases,
            [&](int host, bool hurried, bool last) -> const char* {
                if (asked >= c.asks.size()) {
                    ADD_FAILURE() << c.what << ": asked " << host << " beyond the script";
                    return "never asked";
                }
                const Ask& ask = c.asks[asked++];
                EXPECT_EQ(ask.host, host) << c.what << ", ask " << asked;
                EXPECT_EQ(ask.hurried, hurried) << c.what << ", ask " << asked;
                EXPECT_EQ(ask.last, last) << c.what << ", ask " << asked;
                return ask.answer;
            },
            [&](const char* line) { lines.push_back(line); }, passedOver);
        EXPECT_EQ(c.chosen, chosen) << c.what;
        EXPECT_EQ(c.lines, lines) << c.what;
        EXPECT_EQ(c.asks.size(), asked) << c.what;
        std::sort(passedOver.begin(), passedOver.end());
        EXPECT_EQ(c.passedOver, passedOver) << c.what;
    }
    // One host is asked once, as a build with one host always asked it.
    int asks = 0;
    std::vector<int> passedOver;
    EXPECT_EQ(-1, ChooseListHost({A}, [&](int, bool hurried, bool last) {
        ++asks;
        EXPECT_FALSE(hurried);
        EXPECT_TRUE(last);
        return "timed out";
    }, [](const char*) { ADD_FAILURE() << "a line for the only host"; }, passedOver));
    EXPECT_EQ(1, asks);
    char line[300];
    FormatFailoverLine(line, sizeof line, "data/a.spr", A.c_str(), "HTTP 404", B.c_str());
    EXPECT_STREQ(("Download: data/a.spr failed at " + A + " (HTTP 404), trying " + B + ".").c_str(), line);
}

TEST(ListHosts, SaysWhyAHostFailedInAFewWords) {
    const struct {
        TransferFailure failure;
        int status;
        long lastError;
        const char* said;
    } cases[] = {
        // Refused, timed out, cut short and wrong content are seen end to end.
        {TransferCut, 0, 12007, "the name did not resolve"},
        {TransferServerError, 503, 0, "HTTP 503"},
        {TransferTooLarge, 200, 0, "too large"},
        {TransferRangeRefused, 416, 0, "HTTP 416"},
    };
    for (const auto& c : cases) {
        char said[ProblemTextSize];
        FormatHostProblem(said, sizeof said, c.failure, c.status, c.lastError);
        EXPECT_STREQ(c.said, said) << c.failure << " " << c.status;
    }
}
