#include "engine/dsp/slide.h"

namespace engine {

void Slide::set(float value) {
    value_ = target_ = value;
    remaining_ms_ = total_ms_ = 0.0;
}

void Slide::slide_to(float target, uint32_t milliseconds) {
    if (milliseconds == 0) {
        set(target);
        return;
    }
    start_ = value_;
    target_ = target;
    total_ms_ = remaining_ms_ = milliseconds;
}

float Slide::advance(uint32_t frames, int sample_rate) {
    if (remaining_ms_ <= 0.0 || sample_rate <= 0) return value_;
    remaining_ms_ -= 1000.0 * frames / sample_rate;
    if (remaining_ms_ <= 0.0) {
        remaining_ms_ = 0.0;
        value_ = target_;
    } else {
        // From the start value, not the last step, so rounding does not add up.
        const double done = 1.0 - remaining_ms_ / total_ms_;
        value_ = static_cast<float>(start_ + (target_ - start_) * done);
    }
    return value_;
}

}  // namespace engine
