#include "engine/output/output_converter.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

constexpr size_t kChannels = 2;
// Output room beyond the rate ratio for one push, so the resampler never
// stops for want of space (it then keeps input back).
constexpr size_t kOutputSlack = 64;

}  // namespace

int16_t ToPcm16(float v) {
    float s = v * 32767.0f;
    if (!(s > -32768.0f)) return -32768;  // also NaN
    if (s > 32767.0f) return 32767;
    // Rounded by hand: the library's lrintf is a call per sample here.
    return static_cast<int16_t>(s >= 0.0f ? s + 0.5f : s - 0.5f);
}

void OutputConverter::Reset(int mix_rate, int out_rate, size_t period) {
    mix_rate_ = mix_rate;
    out_rate_ = out_rate;
    period_ = period;
    resampling_ = mix_rate != out_rate;
    if (resampling_) resampler_.set_rates(mix_rate, out_rate);
    resampler_.reset();
    pending_.clear();
}

size_t OutputConverter::MixFramesWanted() const {
    const size_t pending = pending_.size() / kChannels;
    if (pending >= period_) return 0;
    const size_t need = period_ - pending;
    if (!resampling_) return need;
    // The filter's delay may leave the period short: asked again, then.
    return static_cast<size_t>(std::ceil(static_cast<double>(need) * mix_rate_ / out_rate_));
}

void OutputConverter::Push(const float* mix, size_t frames) {
    if (!resampling_) {
        pending_.insert(pending_.end(), mix, mix + frames * kChannels);
        return;
    }
    size_t taken = 0;
    while (taken < frames) {
        const size_t left = frames - taken;
        const size_t room =
            static_cast<size_t>(std::ceil(static_cast<double>(left) * out_rate_ / mix_rate_)) +
            kOutputSlack;
        const size_t at = pending_.size();
        pending_.resize(at + room * kChannels);
        size_t used = 0;
        const size_t made =
            resampler_.process(mix + taken * kChannels, left, &used, pending_.data() + at, room);
        pending_.resize(at + made * kChannels);
        taken += used;
        if (used == 0 && made == 0) break;  // cannot happen: room covers the ratio
    }
}

bool OutputConverter::TakePeriod(int16_t* out) {
    const size_t samples = period_ * kChannels;
    if (period_ == 0 || pending_.size() < samples) return false;
    for (size_t i = 0; i < samples; ++i) out[i] = ToPcm16(pending_[i]);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(samples));
    return true;
}

void OutputConverter::Drop() {
    pending_.clear();
    resampler_.reset();
}

uint64_t OutputConverter::ToMixFrames(uint64_t out_frames) const {
    if (!resampling_) return out_frames;
    return out_frames * static_cast<uint64_t>(mix_rate_) / static_cast<uint64_t>(out_rate_);
}

}  // namespace engine
