// Numbers and status lines of the download progress window.
#include <gtest/gtest.h>

#include <climits>

#include "directory/progress_text.h"

namespace {

TEST(ProgressText, ContentLengthValues) {
    EXPECT_EQ(ParseContentLength("1000"), 1000);
    EXPECT_EQ(ParseContentLength("42 trailing"), 42);
    EXPECT_EQ(ParseContentLength("0"), 0);
    EXPECT_EQ(ParseContentLength(""), 0);
    EXPECT_EQ(ParseContentLength("abc"), 0);
    EXPECT_EQ(ParseContentLength("-5"), 0);
    EXPECT_EQ(ParseContentLength("2147483647"), INT_MAX);
    EXPECT_EQ(ParseContentLength("99999999999999"), 0) << "too large to count is unknown";
    EXPECT_EQ(ParseContentLength(nullptr), 0);
}

TEST(ProgressText, BarPosition) {
    EXPECT_EQ(ProgressPosition(500, 1000), 50);
    EXPECT_EQ(ProgressPosition(0, 1000), 0);
    EXPECT_EQ(ProgressPosition(1000, 1000), 100);
    EXPECT_EQ(ProgressPosition(128, 300), 42);   // 42.67 truncated
    EXPECT_EQ(ProgressPosition(999, 1000), 99);
    EXPECT_EQ(ProgressPosition(1500, 1000), 150) << "over-delivery is passed on as computed";
    EXPECT_EQ(ProgressPosition(10, 0), 0);
}

TEST(ProgressText, StatusLines) {
    char out[512];
    FormatStartCount(out, sizeof out, "Downloading", 1000);
    EXPECT_STREQ(out, "Downloading (0/1000)");
    FormatByteCount(out, sizeof out, "Downloading", 500, 1000);
    EXPECT_STREQ(out, "Downloading [500 / 1000 Bytes]");
    FormatByteCount(out, sizeof out, "x", 5000000000LL, 1000);
    EXPECT_STREQ(out, "x [2147483647 / 1000 Bytes]");
    char small[12];
    FormatByteCount(small, sizeof small, "Downloading", 1, 2);
    EXPECT_STREQ(small, "Downloading");
}

}  // namespace
