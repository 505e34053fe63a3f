// Helpers for tests that check audio by its tone.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace engine_test {

constexpr double kPi = 3.14159265358979323846;

// Frequency of a steady tone from its rising zero crossings, interpolated
// between samples. `stride` picks one channel of interleaved data.
inline double tone_frequency(const float* s, size_t count, size_t stride, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < count; ++i) {
        const float a = s[(i - 1) * stride], b = s[i * stride];
        if (a < 0 && b >= 0) {
            const double t = (i - 1) + a / (a - b);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * rate / (last - first);
}

// Sine samples, interleaved over `channels` (same value in each).
inline std::vector<float> sine(double freq, double rate, size_t frames, int channels, double amp) {
    std::vector<float> v(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            v[i * channels + c] = static_cast<float>(amp * std::sin(2 * kPi * freq * i / rate));
    return v;
}

}  // namespace engine_test
