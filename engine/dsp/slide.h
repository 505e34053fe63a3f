// An attribute (volume, pan, frequency) that can slide linearly to a target
// over a time. Setting the value cancels a running slide. Time is advanced
// by the mixer in sample frames, so the slide follows the audio clock. Not
// thread-safe: the owner guards it.
#pragma once

#include <cstdint>

namespace engine {

class Slide {
public:
    explicit Slide(float value = 0.0f) : value_(value), target_(value) {}

    void set(float value);                          // stops any slide
    void slide_to(float target, uint32_t milliseconds);  // 0 ms sets at once
    // Moves time on by `frames` at `sample_rate` and returns the new value.
    float advance(uint32_t frames, int sample_rate);

    float value() const { return value_; }
    float target() const { return target_; }
    bool sliding() const { return remaining_ms_ > 0.0; }

private:
    float value_;
    float target_;
    float start_ = 0.0f;
    double total_ms_ = 0.0;
    double remaining_ms_ = 0.0;
};

}  // namespace engine
