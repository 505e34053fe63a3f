// Volume and pan on a block of stereo float frames, ramped from the values at
// the block's start to those at its end so a slide has no steps.
#pragma once

#include <cstddef>

namespace engine {

struct Gain {
    float volume = 1.0f;  // 0..1 (larger values amplify)
    float pan = 0.0f;     // -1 left .. 0 centre .. +1 right
};

// Balance-style pan: the far channel is attenuated linearly, the near one kept.
void channel_gains(const Gain& gain, float* left, float* right);

// Applies the gain in place, interpolating linearly from `from` to `to` over
// the block (from == to for a steady gain).
void apply_gain(float* stereo, size_t frames, const Gain& from, const Gain& to);

// Mono to stereo (duplicates), in a separate output buffer of 2 * frames.
void mono_to_stereo(const float* mono, size_t frames, float* stereo);

}  // namespace engine
