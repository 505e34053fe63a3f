#include "engine/dsp/levels.h"

#include <cmath>

namespace engine {

size_t level_window_frames(int sample_rate) {
    if (sample_rate <= 0) return 1;
    const size_t n = static_cast<size_t>(sample_rate * kLevelWindowSeconds + 0.5);
    return n ? n : 1;
}

namespace {
uint32_t scale_peak(float peak) {
    if (!(peak > 0.0f)) return 0;  // also NaN
    if (peak >= 1.0f) return kLevelFullScale;
    return static_cast<uint32_t>(peak * kLevelFullScale + 0.5f);
}
}  // namespace

uint32_t pack_level(float peak_left, float peak_right) {
    return scale_peak(peak_left) | (scale_peak(peak_right) << 16);
}

uint32_t stereo_level(const float* frames, size_t count) {
    float l = 0.0f, r = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const float a = std::fabs(frames[2 * i]);
        const float b = std::fabs(frames[2 * i + 1]);
        if (a > l) l = a;
        if (b > r) r = b;
    }
    return pack_level(l, r);
}

}  // namespace engine
