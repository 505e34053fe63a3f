// The spectrum picture from FFT magnitudes: bar layout, bin groups, heights,
// the centred form and the idle stubs.
#include "playback/spectrum_frame.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

using playback::SpectrumShape;

constexpr int kW = 64;
constexpr int kH = 20;

SpectrumShape Shape(int barArea, bool centred = false) {
    SpectrumShape s = playback::MakeSpectrumShape(kW, kH);
    playback::SetBarArea(s, barArea);
    s.centred = centred;
    return s;
}

// The rows (bottom = 0) in which column x is a bar pixel.
std::vector<int> RowsAt(const std::vector<uint8_t>& picture, int x) {
    std::vector<int> rows;
    for (int r = 0; r < kH; ++r)
        if (picture[static_cast<size_t>(r) * kW + x] == playback::kBarColour) rows.push_back(r);
    return rows;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> rows;
    for (int r = first; r <= last; ++r) rows.push_back(r);
    return rows;
}

TEST(SpectrumFrame, BarsAreEightPixelsApartSixWideAndGroupBinsByOctave) {
    // 32 px of bars: 4 bars 6 px wide, 2 px gaps. Bins: bar 0 takes bin 1,
    // bar 1 bins 2..10 (2^(10/3) = 10.08), bar 2 bins 11..101, bar 3 up to 1023.
    std::vector<float> fft(playback::kFftBins, 0.0f);
    fft[0] = 1.0f;       // DC: never drawn
    fft[10] = 0.04f;     // bar 1: sqrt(0.04) * 3 * 20 - 4 = 8 rows
    fft[1023] = 0.25f;   // bar 3: 26 rows, cut to the height
    std::vector<uint8_t> picture(kW * kH, 0xEE);
    playback::DrawSpectrumFrame(fft.data(), Shape(32), picture.data());
    EXPECT_EQ(RowsAt(picture, 0), Range(0, 0));   // silence: one row
    EXPECT_EQ(RowsAt(picture, 8), Range(0, 7));
    EXPECT_EQ(RowsAt(picture, 13), Range(0, 7));  // the bar's last column
    EXPECT_EQ(RowsAt(picture, 14), std::vector<int>());  // the gap
    EXPECT_EQ(RowsAt(picture, 16), Range(0, 0));
    EXPECT_EQ(RowsAt(picture, 24), Range(0, kH - 1));
    // Every byte of the bar area written, none beyond it.
    for (int r = 0; r < kH; ++r)
        for (int x = 0; x < kW; ++x) {
            const uint8_t p = picture[static_cast<size_t>(r) * kW + x];
            EXPECT_TRUE(x < 32 ? p == 0 || p == 1 : p == 0xEE) << x << "," << r;
        }
    playback::ClearPicture(Shape(32), picture.data());
    EXPECT_EQ(picture, std::vector<uint8_t>(kW * kH, playback::kBackground));

    EXPECT_EQ(playback::LastBinOfBar(0, 4, 0), 1);
    EXPECT_EQ(playback::LastBinOfBar(1, 4, 1), 10);
    EXPECT_EQ(playback::LastBinOfBar(2, 4, 10), 101);
    EXPECT_EQ(playback::LastBinOfBar(3, 4, 101), 1023);
    EXPECT_EQ(playback::LastBinOfBar(0, 1, 0), 1);  // a single bar takes bin 1
    EXPECT_EQ(playback::LastBinOfBar(5, 100, 40), 41);  // at least one bin each
}

TEST(SpectrumFrame, CentredBarsGrowFromTheMiddle) {
    std::vector<float> fft(playback::kFftBins, 0.0f);
    fft[1] = 0.01f;  // bar 0: sqrt(0.01) * 60 - 4 = 2 rows: h = 1, rows M-2 .. M
    fft[5] = 1.0f;   // bar 1: far above: H - 2 = 18 rows, h = 9, rows 0 .. 18
    std::vector<uint8_t> picture(kW * kH, 0xEE);
    playback::DrawSpectrumFrame(fft.data(), Shape(24, true), picture.data());
    const int m = kH / 2;
    EXPECT_EQ(RowsAt(picture, 0), Range(m - 2, m));
    EXPECT_EQ(RowsAt(picture, 8), Range(m - 10, m + 8));
    EXPECT_EQ(RowsAt(picture, 16), Range(m - 1, m - 1));  // silent: y = 1, h = 0
}

TEST(SpectrumFrame, SilenceIsTheIdlePictureAndNarrowAreasHaveNoBars) {
    const std::vector<float> silence(playback::kFftBins, 0.0f);
    for (bool centred : {false, true}) {
        std::vector<uint8_t> frame(kW * kH), idle(kW * kH, 0xEE);
        playback::DrawSpectrumFrame(silence.data(), Shape(kW, centred), frame.data());
        playback::DrawIdlePicture(Shape(kW, centred), idle.data());
        EXPECT_EQ(frame, idle) << centred;
        EXPECT_EQ(RowsAt(idle, 56), Range(centred ? kH / 2 - 1 : 0, centred ? kH / 2 - 1 : 0));
    }
    std::vector<float> loud(playback::kFftBins, 1.0f);
    std::vector<uint8_t> picture(kW * kH, playback::kBackground);
    playback::DrawSpectrumFrame(loud.data(), Shape(7), picture.data());
    EXPECT_EQ(picture, std::vector<uint8_t>(kW * kH, playback::kBackground));
    // Wider than the picture is held to it; NaN and huge magnitudes stay in bounds.
    SpectrumShape wide = Shape(10 * kW);
    EXPECT_EQ(wide.barArea, kW);
    loud[3] = 1e30f;
    loud[4] = std::numeric_limits<float>::quiet_NaN();
    playback::DrawSpectrumFrame(loud.data(), wide, picture.data());
    EXPECT_EQ(RowsAt(picture, 0), Range(0, kH - 1));
}

}  // namespace

namespace {

TEST(SpectrumFrame, OnlyChangedRowsOfTheBarAreaAreTaken) {
    SpectrumShape s = Shape(32);
    std::vector<uint8_t> shown(kW * kH, 0), picture(kW * kH, 0);
    EXPECT_TRUE(playback::TakeChangedRows(s, 32, picture.data(), shown.data()).empty());
    picture[3 * kW + 5] = 1;    // row 3, inside the bar area
    picture[7 * kW + 31] = 1;   // row 7, its last column
    picture[12 * kW + 40] = 1;  // row 12, beyond the area: not looked at
    const playback::RowSpan span = playback::TakeChangedRows(s, 32, picture.data(), shown.data());
    EXPECT_EQ(span.first, 3);
    EXPECT_EQ(span.last, 7);
    EXPECT_EQ(shown[3 * kW + 5], 1);   // taken over
    EXPECT_EQ(shown[12 * kW + 40], 0);
    EXPECT_TRUE(playback::TakeChangedRows(s, 32, picture.data(), shown.data()).empty());
}

}  // namespace
