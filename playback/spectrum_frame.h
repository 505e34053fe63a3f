// The spectrum's picture, drawn from the engine's FFT: 8-bit pixels, one byte
// each, bottom row first, colour 0 the background and colour 1 the bars. Pure
// functions of their inputs with no windows.h and no allocation, so a frame
// is tested natively and costs the timer thread nothing but arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

namespace playback {

constexpr int kFftBins = 1024;        // magnitudes per frame; bin 0 is DC and never drawn
constexpr int kBarPitch = 8;          // bar count = bar-area width / kBarPitch
constexpr int kBarGap = 2;            // pixels between two bars
constexpr uint8_t kBackground = 0;
constexpr uint8_t kBarColour = 1;

struct SpectrumShape {
    int width = 0;     // W: pixels per row, also the byte distance between rows
    int height = 0;    // H
    int middle = 0;    // M = H / 2
    int barArea = 0;   // A: at most W
    int bars = 0;      // N = A / kBarPitch
    bool centred = false;
};

// The shape of a picture of width x height, with no bars yet.
SpectrumShape MakeSpectrumShape(int width, int height);
// Sets A (kept within W) and N from the width of the area the bars cover.
void SetBarArea(SpectrumShape& shape, int barAreaWidth);

// Last FFT bin of each bar (bar j covers last[j-1]+1 .. last[j], bar 0 from
// bin 1): powers of two up to bin 1023, at least one bin per bar.
int LastBinOfBar(int bar, int bars, int previousLast);

// A frame: the bar area (the first A columns of every row) cleared, then one
// bar per group of bins, as tall as the square root of the group's peak
// magnitude. picture holds W x H bytes; those beyond the bar area are left
// alone, so clear the picture when the area narrows.
void DrawSpectrumFrame(const float* magnitudes, const SpectrumShape& shape, uint8_t* picture);
// The picture when nothing plays: all of it cleared, then a one-row stub per
// bar, at the bottom or just below the middle when centred.
void DrawIdlePicture(const SpectrumShape& shape, uint8_t* picture);
// All W x H pixels the background.
void ClearPicture(const SpectrumShape& shape, uint8_t* picture);

// The rows (bottom = 0) in which the first `columns` bytes of picture differ
// from those of shown, both laid out like the shape's picture; first > last
// when none does. The rows found are then copied into shown, so it follows
// what is on screen and a frame needs to send only what changed.
struct RowSpan {
    int first = 0;
    int last = -1;
    bool empty() const { return first > last; }
};
RowSpan TakeChangedRows(const SpectrumShape& shape, int columns, const uint8_t* picture,
                        uint8_t* shown);

}  // namespace playback
