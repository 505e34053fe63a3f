// Peak levels of what is audible: the largest absolute sample of about the
// last 20 ms per channel, scaled to 0-32768 and packed as the level call
// answers (low word left, high word right).
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

constexpr double kLevelWindowSeconds = 0.020;
constexpr uint32_t kLevelFullScale = 32768;

// Frames that make up the level window at this sample rate (at least 1).
size_t level_window_frames(int sample_rate);

// Packs two peaks (1.0 = full scale; larger values are clipped, NaN counts as 0).
uint32_t pack_level(float peak_left, float peak_right);

// Peak of `frames` stereo interleaved frames, packed.
uint32_t stereo_level(const float* frames, size_t count);

}  // namespace engine
