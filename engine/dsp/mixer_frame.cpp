#include "engine/dsp/mixer_frame.h"

namespace engine {

void channel_gains(const Gain& gain, float* left, float* right) {
    float pan = gain.pan;
    if (!(pan >= -1.0f)) pan = -1.0f;  // also NaN
    if (pan > 1.0f) pan = 1.0f;
    *left = gain.volume * (pan > 0.0f ? 1.0f - pan : 1.0f);
    *right = gain.volume * (pan < 0.0f ? 1.0f + pan : 1.0f);
}

void apply_gain(float* stereo, size_t frames, const Gain& from, const Gain& to) {
    if (frames == 0) return;
    float l0, r0, l1, r1;
    channel_gains(from, &l0, &r0);
    channel_gains(to, &l1, &r1);
    const float dl = (l1 - l0) / static_cast<float>(frames);
    const float dr = (r1 - r0) / static_cast<float>(frames);
    for (size_t i = 0; i < frames; ++i) {
        // Reaches the end gain on the block's last frame.
        const float k = static_cast<float>(i + 1);
        stereo[2 * i] *= l0 + dl * k;
        stereo[2 * i + 1] *= r0 + dr * k;
    }
}

void mono_to_stereo(const float* mono, size_t frames, float* stereo) {
    for (size_t i = 0; i < frames; ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
}

}  // namespace engine
