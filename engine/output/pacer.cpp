#include "engine/output/pacer.h"

namespace engine {

void OutputPacer::Reset() {
    window_start_ = 0;
    window_frames_ = 0;
    unclocked_ = false;
    pace_start_ = 0;
    pace_frames_ = 0;
}

uint32_t OutputPacer::After(uint64_t frames, int64_t now) {
    if (ticks_ <= 0 || rate_ <= 0) return 0;
    if (window_start_ == 0) window_start_ = now;
    window_frames_ += frames;
    const int64_t elapsed = now - window_start_;
    if (elapsed >= ticks_) {
        const double speed = static_cast<double>(window_frames_) * static_cast<double>(ticks_) /
                             (static_cast<double>(elapsed) * rate_);
        // Once found, for good (until a Reset): held to the wall clock, an
        // output without one shows a real-time pace itself.
        if (speed > kUnclockedSpeed && !unclocked_) {
            unclocked_ = true;
            pace_start_ = now;
            pace_frames_ = 0;
        }
        window_start_ = now;
        window_frames_ = 0;
    }
    if (!unclocked_) return 0;
    pace_frames_ += frames;
    const int64_t due = pace_start_ + static_cast<int64_t>(pace_frames_) * ticks_ / rate_;
    const int64_t ahead_ms = (due - now) * 1000 / ticks_;
    return ahead_ms > kMaxAheadMs ? static_cast<uint32_t>(ahead_ms - kMaxAheadMs) : 0;
}

}  // namespace engine
