// Log file line format: timestamp prefix, message kept verbatim, cut to fit with the newline kept.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "common/log.h"

TEST(FormatLogFileLine, PadsFieldsWithBlanks) {
    char line[LogFileLineSize];
    LogTime t{2026, 1, 5, 9, 3, 7};
    size_t n = FormatLogFileLine(t, "Checking files...", line);
    EXPECT_EQ(std::string("[2026/ 1/ 5  9: 3: 7] Checking files...\n"), line);
    EXPECT_EQ(strlen(line), n);

    LogTime u{2026, 12, 31, 23, 59, 58};
    FormatLogFileLine(u, "", line);
    EXPECT_EQ(std::string("[2026/12/31 23:59:58] \n"), line);  // empty message: the prefix alone
}

TEST(FormatLogFileLine, KeepsPercentSignsAndCutsLongMessages) {
    char line[LogFileLineSize];
    LogTime t{2026, 3, 4, 5, 6, 7};
    FormatLogFileLine(t, "100% done %s %d", line);
    EXPECT_EQ(std::string("[2026/ 3/ 4  5: 6: 7] 100% done %s %d\n"), line);

    // 488 characters fit exactly; longer messages are cut and the line still ends with its newline.
    for (size_t length : {487u, 488u, 489u, 4999u}) {
        std::string message(length, 'x');
        size_t n = FormatLogFileLine(t, message.c_str(), line);
        ASSERT_LT(n, (size_t)LogFileLineSize) << length;
        EXPECT_EQ('\n', line[n - 1]) << length;
        EXPECT_EQ(22 + std::min<size_t>(length, 488) + 1, n) << length;
    }
}
