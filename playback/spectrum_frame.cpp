#include "playback/spectrum_frame.h"

#include <cmath>
#include <cstring>

namespace playback {

namespace {

constexpr double kOctaves = 10.0;  // bars are spread over 2^0 .. 2^10 bins
constexpr float kBarScale = 3.0f;
constexpr float kBarOffset = 4.0f;

// Fills row (bottom = 0) of bar j; rows outside the picture are skipped.
void FillBarRow(const SpectrumShape& s, uint8_t* picture, int bar, int row) {
    if (row < 0 || row >= s.height || s.bars <= 0) return;
    const int pitch = s.barArea / s.bars;
    const int width = pitch - kBarGap;
    if (width <= 0) return;
    std::memset(picture + static_cast<size_t>(row) * s.width + static_cast<size_t>(pitch) * bar,
                kBarColour, static_cast<size_t>(width));
}

// The bar area of every row, which is all a frame draws in: the picture is
// far wider than any window shows, and clearing all of it forty times a
// second would cost more than the frame itself.
void ClearBarArea(const SpectrumShape& s, uint8_t* picture) {
    if (s.barArea <= 0) return;
    for (int row = 0; row < s.height; ++row)
        std::memset(picture + static_cast<size_t>(row) * s.width, kBackground,
                    static_cast<size_t>(s.barArea));
}

// Bar height in rows from the group's peak, truncated toward zero; kept in
// range before the conversion so no magnitude can overflow it.
int BarHeight(float peak, int height) {
    float y = std::sqrt(peak) * kBarScale * static_cast<float>(height) - kBarOffset;
    if (!(y < static_cast<float>(height))) y = static_cast<float>(height);  // also NaN
    if (y < -1.0f) y = -1.0f;
    return static_cast<int>(y);
}

}  // namespace

SpectrumShape MakeSpectrumShape(int width, int height) {
    SpectrumShape s;
    s.width = width;
    s.height = height;
    s.middle = height / 2;
    return s;
}

void SetBarArea(SpectrumShape& s, int barAreaWidth) {
    if (barAreaWidth < 0) barAreaWidth = 0;
    s.barArea = barAreaWidth < s.width ? barAreaWidth : s.width;
    s.bars = s.barArea / kBarPitch;
}

int LastBinOfBar(int bar, int bars, int previousLast) {
    const double exponent = bars > 1 ? bar * kOctaves / (bars - 1) : 0.0;
    int last = static_cast<int>(std::pow(2.0, exponent));
    if (last > kFftBins - 1) last = kFftBins - 1;
    if (last <= previousLast) last = previousLast + 1;
    return last;
}

void ClearPicture(const SpectrumShape& s, uint8_t* picture) {
    std::memset(picture, kBackground, static_cast<size_t>(s.width) * s.height);
}

void DrawSpectrumFrame(const float* magnitudes, const SpectrumShape& s, uint8_t* picture) {
    ClearBarArea(s, picture);
    int first = 0;
    for (int j = 0; j < s.bars; ++j) {
        const int last = LastBinOfBar(j, s.bars, first);
        float peak = 0.0f;
        for (int bin = first + 1; bin <= last && bin < kFftBins; ++bin)
            if (magnitudes[bin] > peak) peak = magnitudes[bin];
        first = last;

        int y = BarHeight(peak, s.height);
        if (!s.centred) {
            if (y > s.height) y = s.height;
            if (y <= 0) y = 1;
            for (int row = 0; row < y; ++row) FillBarRow(s, picture, j, row);
        } else {
            if (y > s.height - 2) y = s.height - 2;
            if (y <= 0) y = 1;
            const int h = y / 2;
            for (int row = s.middle - h - 1; row <= s.middle + h - 1; ++row)
                FillBarRow(s, picture, j, row);
        }
    }
}

RowSpan TakeChangedRows(const SpectrumShape& s, int columns, const uint8_t* picture, uint8_t* shown) {
    RowSpan span;
    span.first = s.height;
    if (columns > s.width) columns = s.width;
    if (columns <= 0) return RowSpan{};
    for (int row = 0; row < s.height; ++row) {
        const size_t at = static_cast<size_t>(row) * s.width;
        if (std::memcmp(picture + at, shown + at, static_cast<size_t>(columns)) == 0) continue;
        std::memcpy(shown + at, picture + at, static_cast<size_t>(columns));
        if (row < span.first) span.first = row;
        span.last = row;
    }
    if (span.last < 0) return RowSpan{};
    return span;
}

void DrawIdlePicture(const SpectrumShape& s, uint8_t* picture) {
    ClearPicture(s, picture);
    const int row = s.centred ? s.middle - 1 : 0;
    for (int j = 0; j < s.bars; ++j) FillBarRow(s, picture, j, row);
}

}  // namespace playback
