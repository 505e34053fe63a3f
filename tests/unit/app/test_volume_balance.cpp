// The sliders' arithmetic at the edges that show: truncation, the dead zone,
// out-of-range stored values and the meter tint.
#include "app/volume_balance.h"

#include <gtest/gtest.h>

namespace {

using app::Side;

TEST(Sliders, StoredValuesGivePositionsAndOutOfRangeOnesFallBack) {
    EXPECT_EQ(app::VolumePosition(0.0f), 0);    // no settings file: both load as 0.0
    EXPECT_EQ(app::BalancePosition(0.0f), 100);
    EXPECT_EQ(app::VolumePosition(1.0f), 100);
    EXPECT_EQ(app::VolumePosition(0.29f), 28);  // 0.29f is a little below 0.29
    EXPECT_EQ(app::VolumePosition(1.5f), 50);
    EXPECT_EQ(app::VolumePosition(-0.1f), 50);
    EXPECT_EQ(app::BalancePosition(1.5f), 0);   // and the applied pan becomes -1
    EXPECT_EQ(app::BalancePosition(-1.0f), 0);
    EXPECT_EQ(app::BalancePosition(1.0f), 200);
    EXPECT_EQ(app::BalancePosition(-0.25f), 75);
}

TEST(Sliders, VolumeLabelTruncates) {
    EXPECT_EQ(app::ApplySliders(29, 100).volumeLabel, "28%");
    EXPECT_EQ(app::ApplySliders(0, 100).volumeLabel, "0%");
    EXPECT_EQ(app::ApplySliders(100, 100).volumeLabel, "100%");
    EXPECT_FLOAT_EQ(app::ApplySliders(50, 100).volume, 0.5f);
}

TEST(Sliders, BalanceSnapsFrom96To104AndTintsTheAttenuatedSide) {
    struct Case {
        int position;
        bool snaps;
        const char* label;
        Side tinted;
        int grey;
    };
    const Case cases[] = {
        {96, true, "> <", Side::None, 89},   {104, true, "> <", Side::None, 89},
        {100, true, "> <", Side::None, 89},  {105, false, "< 5", Side::Left, 95},
        {95, false, "5 >", Side::Right, 95}, {0, false, "100 >", Side::Right, 217},
        {200, false, "< 100", Side::Left, 217}, {150, false, "< 50", Side::Left, 153},
    };
    for (const Case& c : cases) {
        const app::SliderState s = app::ApplySliders(50, c.position);
        EXPECT_EQ(s.snapToCentre, c.snaps) << c.position;
        EXPECT_EQ(s.balanceLabel, c.label) << c.position;
        EXPECT_EQ(s.tinted, c.tinted) << c.position;
        EXPECT_EQ(s.tint, c.grey) << c.position;
        if (c.snaps) {
            EXPECT_EQ(s.pan, 0.0f) << c.position;
        }
    }
    EXPECT_FLOAT_EQ(app::ApplySliders(50, 0).pan, -1.0f);
    EXPECT_FLOAT_EQ(app::ApplySliders(50, 105).pan, 0.05f);
}

}  // namespace
