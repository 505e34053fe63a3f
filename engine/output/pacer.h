// Pacing for outputs that take audio faster than they could play it (a sound
// file, a null sink): left alone, the mixer would race through the streams
// and spin a core. Such an output is told by its pace over a window of a
// second; while it shows it, the wall clock paces the mixer. A real device,
// within a fraction of a percent of real time, is never second-guessed.
#pragma once

#include <cstdint>

namespace engine {

constexpr int64_t kMaxAheadMs = 100;      // how far an unclocked output may run ahead
constexpr double kUnclockedSpeed = 1.25;  // faster than real time by this: no clock

class OutputPacer {
public:
    // Clock ticks per second of the times passed in, and the output's rate.
    OutputPacer(int64_t ticks_per_second, int rate) : ticks_(ticks_per_second), rate_(rate) {}

    // Forgets the past: after a pause of the mixer or a change of output.
    void Reset();
    // After `frames` more were handed over at time `now`: milliseconds to
    // wait before the next block (0 for a clocked output).
    uint32_t After(uint64_t frames, int64_t now);
    bool unclocked() const { return unclocked_; }

private:
    int64_t ticks_;
    int rate_;
    int64_t window_start_ = 0;
    uint64_t window_frames_ = 0;
    bool unclocked_ = false;
    int64_t pace_start_ = 0;
    uint64_t pace_frames_ = 0;
};

}  // namespace engine
