#include "mivo/ui_geometry.h"

#include <gtest/gtest.h>

namespace mivo {

// Found by argument-dependent lookup from the assertions.
bool operator==(const Box& a, const Box& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "{" << b.left << ", " << b.top << ", " << b.right << ", " << b.bottom << "}";
}

}  // namespace mivo

namespace {

using mivo::AnchoredBox;
using mivo::Box;

TEST(MivoResizerGeometry, EachFlagMovesItsEdgesAndFlagsAddUp) {
    const Box first{10, 20, 110, 70};
    struct Case {
        unsigned flags;
        Box expected;
    };
    // dx = 100, dy = 40 throughout.
    const Case cases[] = {
        {0, {10, 20, 110, 70}},
        {1, {110, 20, 210, 70}},   // moves right
        {2, {10, 60, 110, 110}},   // moves down
        {4, {10, 20, 210, 70}},    // stretches in width
        {8, {10, 20, 110, 110}},   // stretches in height
        {3, {110, 60, 210, 110}},  // buttons in the bottom-right corner
        {12, {10, 20, 210, 110}},  // a list filling the window
        {6, {10, 60, 210, 110}},   // a footer band
        {5, {110, 20, 310, 70}},   // move and stretch: the right edge goes twice as far
        {10, {10, 60, 110, 150}},
        {15, {110, 60, 310, 150}},
        {0x30, {10, 20, 110, 70}},  // window flags mean nothing to a control
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnchoredBox(first, c.flags, 100, 40), c.expected) << "flags " << c.flags;
    }
}

TEST(MivoResizerGeometry, ShrinkingMovesBackAndTheFirstSizeRestoresEveryRectangle) {
    const Box first{200, 300, 260, 330};
    EXPECT_EQ(AnchoredBox(first, 3, -50, -20), (Box{150, 280, 210, 310}));
    EXPECT_EQ(AnchoredBox(first, 12, -50, -20), (Box{200, 300, 210, 310}));
    // Positions come from the first layout: no change means the first rectangle,
    // whatever size the window had in between.
    for (unsigned flags = 0; flags < 16; ++flags) {
        EXPECT_EQ(AnchoredBox(first, flags, 0, 0), first) << "flags " << flags;
    }
}

TEST(MivoCentring, HalvesRoundTowardZero) {
    EXPECT_EQ(mivo::CentredStart(0, 501, 200), 150);
    EXPECT_EQ(mivo::CentredStart(0, 500, 200), 150);
    EXPECT_EQ(mivo::CentredStart(100, 300, 101), 200);  // 100 + (150 - 50)
    EXPECT_EQ(mivo::CentredStart(-40, 200, 100), 10);
    // A window larger than its reference hangs over both sides equally.
    EXPECT_EQ(mivo::CentredStart(0, 100, 301), -100);
    EXPECT_EQ(mivo::CentredStart(0, 101, 300), -100);
}

}  // namespace
