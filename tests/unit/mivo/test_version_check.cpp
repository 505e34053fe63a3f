#include "mivo/version_check.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Our version, and the requests around it.
constexpr int kMajor = MIVO_VERSION_MAJOR;
constexpr int kMinor = MIVO_VERSION_MINOR;
constexpr int kPatch = MIVO_VERSION_PATCH;

struct Request {
    int major, minor, patch;
    bool satisfied;
};

TEST(MivoVersion, RequestsAtOrBelowOurVersionAreSatisfied) {
    const Request cases[] = {
        {kMajor, kMinor, kPatch, true},      {kMajor, kMinor - 1, 99, true},
        {kMajor - 1, 99, 99, true},          {kMajor, kMinor, -1, true},
        {0, 0, 0, true},                     {-1, 100, 100, true},
        {kMajor, -5, 77, true},              {kMajor, kMinor, kPatch + 1, false},
        {kMajor, kMinor + 1, 0, false},      {kMajor + 1, 0, 0, false},
        {kMajor, kMinor + 1, -9, false},     {kMajor + 1, -1, -1, false},
        {100, 0, 0, false},
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
    EXPECT_STREQ(caption, "Mivo64.dll v" MIVO_VERSION_SHORT);

    char message[mivo::kVersionMessageSize];
    mivo::FormatVersionMessage(message, sizeof message, 7, 0, 12);
    EXPECT_STREQ(message,
                 "ERROR!\n\nWrong version of Mivo64.dll\n"
                 "You need at least v7.0.12, but this is v" MIVO_VERSION_SHORT);
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
