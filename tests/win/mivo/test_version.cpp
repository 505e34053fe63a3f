// The version exports, called through the ordinal import library.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

#include "box_watcher.h"

namespace {

TEST(MivoVersion, InformationIsThreeFourZeroBuild355) {
    MIVO_VerInfo info;
    FillMemory(&info, sizeof info, 0xAB);  // prove every field is written
    MIVO_VerGetInformation(&info);
    EXPECT_EQ(info.major, 3);
    EXPECT_EQ(info.minor, 4);
    EXPECT_EQ(info.patch, 0);
    EXPECT_EQ(info.build, 355u);
}

TEST(MivoVersion, SatisfiedOrSilentRequestsOpenNoWindow) {
    struct Case {
        int major, minor, patch, silent, result;
    };
    const Case cases[] = {
        {3, 4, 0, 0, 1}, {3, 3, 9, 0, 1}, {2, 99, 99, 0, 1}, {3, 4, -1, 0, 1},
        {4, 0, 0, 1, 0}, {3, 5, 0, 1, 0}, {3, 4, 1, 1, 0},
    };
    testsupport::BoxWatcher watcher;
    for (const Case& c : cases) {
        EXPECT_EQ(MIVO_VerVerify(c.major, c.minor, c.patch, c.silent), c.result)
            << c.major << "." << c.minor << "." << c.patch << " silent " << c.silent;
    }
    EXPECT_TRUE(watcher.Boxes().empty());
}

TEST(MivoVersion, TooNewRequestShowsTheLibrarysBox) {
    testsupport::BoxWatcher watcher;
    EXPECT_EQ(MIVO_VerVerify(3, 4, 1, 0), 0);
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Mivo64.dll v3.4.0");
    EXPECT_EQ(boxes[0].text,
              "ERROR!\n\nWrong version of Mivo64.dll\n"
              "You need at least v3.4.1, but this is v3.4.0");
}

}  // namespace
