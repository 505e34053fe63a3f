// The version exports, called through the ordinal import library.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

#include <string>

#include "box_watcher.h"
#include "versions.h"

namespace {

constexpr int kMajor = MIVO_VERSION_MAJOR;
constexpr int kMinor = MIVO_VERSION_MINOR;
constexpr int kPatch = MIVO_VERSION_PATCH;

TEST(MivoVersion, InformationIsTheLibrarysVersion) {
    MIVO_VerInfo info;
    FillMemory(&info, sizeof info, 0xAB);  // prove every field is written
    MIVO_VerGetInformation(&info);
    EXPECT_EQ(info.major, MIVO_VERSION_MAJOR);
    EXPECT_EQ(info.minor, MIVO_VERSION_MINOR);
    EXPECT_EQ(info.patch, MIVO_VERSION_PATCH);
    EXPECT_EQ(info.build, static_cast<DWORD>(MIVO_VERSION_BUILD));
}

TEST(MivoVersion, SatisfiedOrSilentRequestsOpenNoWindow) {
    struct Case {
        int major, minor, patch, silent, result;
    };
    const Case cases[] = {
        {kMajor, kMinor, kPatch, 0, 1},     {kMajor, kMinor - 1, 9, 0, 1},
        {kMajor - 1, 99, 99, 0, 1},         {kMajor, kMinor, -1, 0, 1},
        {kMajor + 1, 0, 0, 1, 0},           {kMajor, kMinor + 1, 0, 1, 0},
        {kMajor, kMinor, kPatch + 1, 1, 0},
    };
    testsupport::BoxWatcher watcher;
    for (const Case& c : cases) {
        EXPECT_EQ(MIVO_VerVerify(c.major, c.minor, c.patch, c.silent), c.result)
            << c.major << "." << c.minor << "." << c.patch << " silent " << c.silent;
    }
    EXPECT_TRUE(watcher.Boxes().empty());
}

TEST(MivoVersion, TooNewRequestShowsTheLibrarysBox) {
    // The library names its own file: Mivo32.dll in the i386 build.
    const std::string library = sizeof(void*) == 8 ? "Mivo64.dll" : "Mivo32.dll";
    testsupport::BoxWatcher watcher;
    EXPECT_EQ(MIVO_VerVerify(MIVO_VERSION_MAJOR, MIVO_VERSION_MINOR + 1, 0, 0), 0);
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, library + " v" MIVO_VERSION_SHORT);
    const std::string wanted = "You need at least v" + std::to_string(MIVO_VERSION_MAJOR) + "." +
                               std::to_string(MIVO_VERSION_MINOR + 1) + ".0, but this is v" +
                               MIVO_VERSION_SHORT;
    EXPECT_EQ(boxes[0].text, "ERROR!\n\nWrong version of " + library + "\n" + wanted);
}

}  // namespace
