#include "engine/dsp/play_history.h"

#include <algorithm>

namespace engine {

PlayHistory::PlayHistory() : frames_(kHistoryFrames * 2) {}

void PlayHistory::Push(const float* stereo, size_t frames, uint64_t block_start) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames > kHistoryFrames) {  // only the newest part can be kept
        stereo += (frames - kHistoryFrames) * 2;
        block_start += frames - kHistoryFrames;
        frames = kHistoryFrames;
    }
    size_t slot = static_cast<size_t>(block_start % kHistoryFrames);
    size_t left = frames;
    while (left > 0) {
        const size_t n = std::min(left, kHistoryFrames - slot);
        std::copy_n(stereo, n * 2, frames_.data() + slot * 2);
        stereo += n * 2;
        left -= n;
        slot = 0;
    }
    end_ = block_start + frames;
}

void PlayHistory::Copy(uint64_t end, size_t frames, float* stereo) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t oldest = end_ > kHistoryFrames ? end_ - kHistoryFrames : 0;
    for (size_t i = 0; i < frames; ++i) {
        const bool before_start = end < frames - i;
        const uint64_t f = end - (frames - i);
        const bool have = !before_start && f >= oldest && f < end_;
        const size_t slot = static_cast<size_t>(f % kHistoryFrames);
        stereo[2 * i] = have ? frames_[slot * 2] : 0.0f;
        stereo[2 * i + 1] = have ? frames_[slot * 2 + 1] : 0.0f;
    }
}

}  // namespace engine
