#include "mivo/version_check.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Request {
    int major, minor, patch;
    bool satisfied;
};

TEST(MivoVersion, RequestsAtOrBelowOurVersionAreSatisfied) {
    const Request cases[] = {
        {3, 4, 0, true},    {3, 3, 9, true},    {2, 99, 99, true}, {3, 4, -1, true},
        {0, 0, 0, true},    {-1, 100, 100, true}, {3, -5, 77, true},
        {3, 4, 1, false},   {3, 5, 0, false},   {4, 0, 0, false},  {3, 5, -9, false},
        {4, -1, -1, false}, {100, 0, 0, false},
    };
    for (const Request& r : cases) {
        EXPECT_EQ(mivo::VersionSatisfies(r.major, r.minor, r.patch), r.satisfied)
            << "request " << r.major << "." << r.minor << "." << r.patch;
    }
}

TEST(MivoVersion, BoxTextsNameBothVersions) {
    char caption[mivo::kVersionCaptionSize];
    std::memset(caption, 'x', sizeof caption);
    mivo::FormatVersionCaption(caption, sizeof caption);
    EXPECT_STREQ(caption, "Mivo64.dll v3.4.0");

    char message[mivo::kVersionMessageSize];
    mivo::FormatVersionMessage(message, sizeof message, 3, 4, 1);
    EXPECT_STREQ(message,
                 "ERROR!\n\nWrong version of Mivo64.dll\n"
                 "You need at least v3.4.1, but this is v3.4.0");
}

TEST(MivoVersion, TextsAreCutToTheirBuffers) {
    // Extreme requests must not run past the fixed buffers.
    char small[8];
    mivo::FormatVersionMessage(small, sizeof small, -2147483647 - 1, 2147483647, -1);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);

    char message[mivo::kVersionMessageSize];
    mivo::FormatVersionMessage(message, sizeof message, -2147483647 - 1, 2147483647, -1);
    EXPECT_NE(std::strstr(message, "v-2147483648.2147483647.-1"), nullptr) << message;
}

}  // namespace
