// Downloader decisions without the network: temporary name, digest acceptance, outcome lines, announced length.
#include <gtest/gtest.h>
#include <ctype.h>
#include <string.h>

#include <set>
#include <string>

#include "updater/net/downloader.h"
#include "updater/net/transport.h"
#include "updater/manifest.h"

TEST(DownloadNames, TemporaryNameLiesDirectlyInTheStagingFolder) {
    char name[400];
    ASSERT_TRUE(MakeDownloadTempName("sprites/ui\\x.bmp", -1, name, sizeof name));
    EXPECT_EQ(std::string("Launcher staging\\sprites#ui#x.bmp"), name);
    char small[20];
    EXPECT_FALSE(MakeDownloadTempName("sprites/ui/x.bmp", -1, small, sizeof small));

    // Pending files in flight at once never share a name, whatever their paths.
    const struct {
        const char* path;
        int pendingIndex;
    } inFlight[] = {{"a/b", 0}, {"a#b", 1}, {"a/b", 2}, {"A/B", 3}, {"a\\b", 4}};
    std::set<std::string> folded;
    for (const auto& file : inFlight) {
        ASSERT_TRUE(MakeDownloadTempName(file.path, file.pendingIndex, name, sizeof name));
        std::string text = name;
        for (char& c : text) c = (char)tolower((unsigned char)c);  // Windows compares names without case
        EXPECT_TRUE(folded.insert(text).second) << name;
    }
}

TEST(DownloadNames, AcceptsOnlyAMatchingDigest) {
    const char* lower = "a9993e364706816aba3e25717850c26c9cd0d89d";
    struct Case {
        const char* expected;
        const char* arrived;
        bool accepted;
    } cases[] = {
        {lower, lower, true},
        {"A9993E364706816ABA3E25717850C26C9CD0D89D", lower, true},  // an upper-case manifest still installs
        {lower, "84983e441c3bd26ebaae4aa1f95129e5e54670f1", false},
        {lower, "-9993e364706816aba3e25717850c26c9cd0d89d", false},  // what arrived could not be read
        {lower, "", false},
        {"(null)", "", true},                                     // no digest to check against
        {"a9993e364706816aba3e25717850c26c9cd0d89", "", true},   // 39 characters: not a digest
        {"a9993e364706816aba3e25717850c26c9cd0d89dd", "", true}, // 41 characters
        {"g9993e364706816aba3e25717850c26c9cd0d89d", "", true},  // not hexadecimal
        {nullptr, "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.accepted, DigestAccepted(c.expected, c.arrived))
            << (c.expected ? c.expected : "null") << " / " << c.arrived;
    }
}

TEST(DownloadNames, FormatsTheOutcomeLine) {
    DownloadLineArgs args = {"music/a%d.ogg", "http://127.0.0.1/Quorvane/music/a%d.ogg", -3, "1234", "abcd", 4096};
    struct Line {
        DownloadLineKind kind;
        const char* text;
    } lines[] = {
        {LineComplete, "Download: music/a%d.ogg complete."},
        {LineUrlInvalid, "URL is invalid: http://127.0.0.1/Quorvane/music/a%d.ogg."},
        {LineOutOfMemory, "Buffer length invalid, or insufficient memory: music/a%d.ogg"},
        {LineError, "Download: music/a%d.ogg, error: -3"},
        {LineDigestMismatch, "Download: music/a%d.ogg does not match its digest (1234 - abcd)."},
        {LineTimedOut, "Download: music/a%d.ogg timed out."},
        {LineTooLarge, "Download: music/a%d.ogg is larger than 4096 bytes."},
        {LineSignedMismatch, "Download: music/a%d.ogg does not match its signed length and SHA-256."},
        {LineProxyRefused, "Download: music/a%d.ogg refused by the proxy: it asks for a user name and password (407)."},
    };
    char retry[200];
    FormatRetryLine(retry, sizeof retry, "a.pak", TransferCut, 2, 4);
    EXPECT_EQ(std::string("Download: a.pak interrupted, trying again (2 of 4)."), retry);
    for (const Line& l : lines) {
        char buffer[5000];
        FormatDownloadLine(buffer, sizeof buffer, l.kind, args);
        EXPECT_EQ(std::string(l.text), buffer);
    }
}

TEST(DownloadNames, ReadsTheAnnouncedBodyLength) {
    struct Case {
        const char* headers;
        long long length;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1234\r\n\r\n", 1234},
        {"HTTP/1.1 200 OK\r\ncontent-length:0\r\n", 0},
        {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH:   3000000000\r\n", 3000000000LL},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", -1},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n", -1},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n", -1},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 10\r\n", -1},  // stored decoded
        {"HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 10\r\n", 10},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n", -1},
        {"", -1},
    };
    // Found however long the headers before it are.
    std::string longHeaders = "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(100000, 'p') +
                              "\r\nContent-Length: 77\r\n";
    EXPECT_EQ(77, ExpectedBodyLength(longHeaders.c_str()));
    for (const Case& c : cases) EXPECT_EQ(c.length, (long long)ExpectedBodyLength(c.headers)) << c.headers;
}

TEST(DownloadNames, SplitsTheUpdateUrl) {
    struct Case {
        const char* url;
        const char* host;
        unsigned port;
        const char* object;
    } cases[] = {
        {"http://127.0.0.1:18660/Quorvane/a#b%20.dat", "127.0.0.1", 18660, "/Quorvane/a#b%20.dat"},  // kept as given
        {"HTTP://updates.example/Quorvane/x?sha1=ab", "updates.example", 80, "/Quorvane/x?sha1=ab"},
        {"https://127.0.0.1/Quorvane/x", nullptr, 0, nullptr},
        {"http://127.0.0.1:0/x", nullptr, 0, nullptr},
        {"http://127.0.0.1:65536/x", nullptr, 0, nullptr},
        {"http://127.0.0.1:80", nullptr, 0, nullptr},
        {"http:///x", nullptr, 0, nullptr},
    };
    for (const Case& c : cases) {
        char host[32];
        unsigned port = 0;
        const char* object = nullptr;
        bool split = SplitHttpUrl(c.url, host, sizeof host, &port, &object);
        ASSERT_EQ(c.host != nullptr, split) << c.url;
        if (!split) continue;
        EXPECT_EQ(std::string(c.host), host);
        EXPECT_EQ(c.port, port);
        EXPECT_EQ(std::string(c.object), object);
    }
    char tiny[4];
    unsigned port;
    const char* object;
    EXPECT_FALSE(SplitHttpUrl("http://127.0.0.1/x", tiny, sizeof tiny, &port, &object));
}
