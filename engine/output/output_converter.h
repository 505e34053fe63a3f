// Between the mixer and a backend: float stereo frames at the mix rate go in,
// 16-bit stereo periods at the backend's rate come out. The mix keeps its
// rate when the output changes (the streams and the clock are set up for
// it), so a backend that runs at another rate gets the mix resampled here;
// at the same rate the frames pass straight through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/dsp/resampler.h"

namespace engine {

class OutputConverter {
public:
    // A new backend: periods of `period` frames at `out_rate` from a mix at
    // `mix_rate`. Forgets everything pending.
    void Reset(int mix_rate, int out_rate, size_t period);
    bool resampling() const { return resampling_; }
    // Mix frames to push before the next period is complete; 0 once it is.
    size_t MixFramesWanted() const;
    // Takes `frames` interleaved stereo frames of the mix, all of them.
    void Push(const float* mix, size_t frames);
    // The next period as 16-bit stereo into `out` (2 * period samples);
    // false while it is not complete.
    bool TakePeriod(int16_t* out);
    // Drops what waits for the backend: the output was flushed.
    void Drop();
    // Frames the backend played, counted in mix frames.
    uint64_t ToMixFrames(uint64_t out_frames) const;

private:
    Resampler resampler_;
    bool resampling_ = false;
    int mix_rate_ = 0;
    int out_rate_ = 0;
    size_t period_ = 0;
    std::vector<float> pending_;  // output frames not yet taken, interleaved
};

// A mixed sample as 16 bits, clipped.
int16_t ToPcm16(float v);

}  // namespace engine
