// The shared text helpers: decimal and hexadecimal numbers at their bounds, letter case.
#include <gtest/gtest.h>
#include <string.h>

#include "common/text.h"

TEST(Text, DecimalNumbersStopAtTheirBound) {
    struct Case {
        const char* text;
        uint64_t max;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0", 10, true, 0},
        {"007", 10, true, 7},
        {"10", 10, true, 10},
        {"11", 10, false, 0},
        {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, false, 0},
        {"99999999999999999999", UINT64_MAX, false, 0},
        {"", 10, false, 0},
        {"-1", 10, false, 0},
        {"1 ", 10, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t value = 12345;
        EXPECT_EQ(c.ok, ParseDecimal(c.text, strlen(c.text), c.max, &value)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
    EXPECT_EQ(3u, DecimalDigitCount("123abc"));
}

TEST(Text, HexadecimalRoundTripsAndRefusesOtherLengths) {
    const uint8_t bytes[] = {0x00, 0x7f, 0xa5, 0xff};
    char text[9];
    EncodeHex(bytes, sizeof bytes, text);
    EXPECT_STREQ("007fa5ff", text);
    uint8_t back[4];
    ASSERT_TRUE(DecodeHex("007FA5ff", 8, back, sizeof back));
    EXPECT_EQ(0, memcmp(bytes, back, sizeof bytes));
    EXPECT_FALSE(DecodeHex("007fa5f", 7, back, sizeof back));
    EXPECT_FALSE(DecodeHex("007fa5fg", 8, back, sizeof back));
}

TEST(Text, CaseIsFoldedForAsciiLettersOnly) {
    EXPECT_TRUE(EqualIgnoringCase("Client.EXE", "client.exe"));
    EXPECT_FALSE(EqualIgnoringCase("client.exe", "client.ex"));
    EXPECT_FALSE(EqualIgnoringCase("\xC4", "\xE4"));  // letters beyond ASCII are not folded
    EXPECT_TRUE(SpanEqualsIgnoringCase("CoM1.txt", 4, "COM1"));
    EXPECT_FALSE(SpanEqualsIgnoringCase("COM", 3, "COM1"));
    EXPECT_TRUE(StartsWithIgnoringCase("Content-Length: 5", "content-length:"));
}
