// The mirror list: which base URLs it takes, which lists it refuses, and that a written list reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/net/mirror_list.h"

TEST(MirrorList, TakesBaseUrlsAndRefusesOthers) {
    const struct {
        std::string url;
        const char* problem;  // null: a base URL
    } cases[] = {
        {"http://mirror.example.com/Quorvane/", nullptr},
        {"http://203.0.113.9:8080/games/quorvane/", nullptr},
        {"http://127.0.0.2:65535/a-b_c~d.e/", nullptr},
        {"http://cdn/", nullptr},
        {"https://mirror.example.com/Quorvane/", "does not start with http://"},
        {"HTTP://mirror.example.com/Quorvane/", "does not start with http://"},
        {"http://mirror.example.com", "has no path: give the folder, ending in /"},
        {"http://mirror.example.com/Quorvane", "does not end with / (a base URL names a folder)"},
        {"http:///Quorvane/", "has no host"},
        {"http://user@mirror.example.com/Quorvane/", "has a host that is not a host name"},
        {"http://-mirror.example.com/q/", "has a host that is not a host name"},
        {"http://mirror..example.com/q/", "has a host that is not a host name"},
        {"http://[::1]:80/q/", "has a host that is not a host name"},
        {"http://" + std::string(64, 'a') + ".com/q/", "has a host that is not a host name"},
        {"http://10.0.0.256/q/", "has a host of digits and dots that is not an IPv4 address"},
        {"http://10.0.1/q/", "has a host of digits and dots that is not an IPv4 address"},
        {"http://10.0.0.1:0/q/", "has a port that is not a number from 1 to 65535"},
        {"http://10.0.0.1:65536/q/", "has a port that is not a number from 1 to 65535"},
        {"http://10.0.0.1:080/q/", "has a port that is not a number from 1 to 65535"},
        {"http://10.0.0.1:/q/", "has a port that is not a number from 1 to 65535"},
        {"http://mirror.example.com//q/", "has an empty part in its path (//)"},
        {"http://mirror.example.com/q/../x/", "has a . or .. part in its path"},
        {"http://mirror.example.com/q?x=1/", "has a character other than letters, digits and - . _ ~ in its path"},
        {"http://mirror.example.com/a%20b/", "has a character other than letters, digits and - . _ ~ in its path"},
        {"http://mirror.example.com/a b/", "has a character other than letters, digits and - . _ ~ in its path"},
        {"http://m.example.com/" + std::string(MaxBaseUrlLength - 22, 'a') + "/", nullptr},
        {"http://m.example.com/" + std::string(MaxBaseUrlLength - 21, 'a') + "/", "is longer than 200 characters"},
    };
    for (const auto& c : cases) {
        const char* problem = BaseUrlProblem(c.url.data(), c.url.size());
        if (c.problem) {
            EXPECT_STREQ(c.problem, problem) << c.url;
        } else {
            EXPECT_EQ(nullptr, problem) << c.url << ": " << problem;
        }
    }
}

TEST(MirrorList, ReadsListsWithinTheirBounds) {
    const std::string a = "http://a.example.com/Quorvane/\n", b = "http://127.0.0.3:18760/Quorvane/\n";
    std::string eight, nine;
    for (int i = 0; i < 9; ++i) (i < 8 ? eight : nine) += "http://m" + std::to_string(i) + ".example.com/q/\n";
    nine = eight + nine;
    const struct {
        std::string text;
        int count;            // mirrors read; -1: refused
        const char* problem;  // for a refused list
    } cases[] = {
        {"", 0, nullptr},
        {a + b, 2, nullptr},
        {eight, 8, nullptr},
        {nine, -1, "lists more than 8 mirrors"},
        {a + a, -1, "line 2: http://a.example.com/Quorvane/ is listed twice"},
        {a + "\n", -1, "line 2 is empty"},
        {a + b.substr(0, b.size() - 1), -1, "line 2 has no line end"},
        {"http://a.example.com/Quorvane/\r\n", -1, "line 1 is not a base URL"},
        {"# mirrors\n" + a, -1, "line 1: # mirrors does not start with http://"},
        {std::string("http://a.example.com/q/\0x/\n", 27), -1, "line 1 is not a base URL"},
        {a + std::string(MaxMirrorListSize, 'x'), -1, "is longer than 1608 bytes"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> bases = {"left over"};
        char problem[300] = "";
        bool read = ReadMirrorList(c.text.data(), c.text.size(), &bases, problem, sizeof problem);
        EXPECT_EQ(c.count >= 0, read) << c.text;
        if (c.count < 0) {
            EXPECT_STREQ(c.problem, problem);
            EXPECT_TRUE(bases.empty());
            continue;
        }
        ASSERT_EQ((size_t)c.count, bases.size());
        EXPECT_EQ(c.text, FormatMirrorList(bases));  // the publisher's writing reads back byte for byte
    }
}
