// Stereo float sample-rate conversion with a Kaiser-windowed sinc filter
// (polyphase table, linear interpolation between phases). The ratio may change
// between calls without a click: the filter position carries over, so a
// playback-rate glide (down to 100 Hz and back) is continuous.
#pragma once

#include <cstddef>
#include <vector>

namespace engine {

constexpr double kResamplerMinRate = 100.0;
constexpr double kResamplerMaxRate = 384000.0;

class Resampler {
public:
    Resampler();

    // Sets the input (stream or FREQ attribute) and output (device) rates,
    // each clamped to [kResamplerMinRate, kResamplerMaxRate].
    void set_rates(double in_rate, double out_rate);
    double in_rate() const { return in_rate_; }
    double out_rate() const { return out_rate_; }

    // Forgets the history (for a new stream; not needed for a rate change).
    void reset();

    // Converts stereo interleaved frames. Takes up to in_frames (reported in
    // *in_used) and writes up to out_frames; returns frames written. Input is
    // copied into the filter history, so the caller may reuse its buffer.
    size_t process(const float* in, size_t in_frames, size_t* in_used, float* out,
                   size_t out_frames);

    // Input frames needed to produce out_frames more at the current ratio
    // (an estimate that errs on the high side).
    size_t input_for_output(size_t out_frames) const;

private:
    void push_frame(float l, float r);
    void render(float* out);

    double in_rate_ = 44100.0, out_rate_ = 44100.0;
    double step_ = 1.0;          // input frames per output frame
    double frac_ = 0.0;          // position of the next output between history frames
    std::vector<float> history_; // interleaved, 2 * kHistoryFrames, doubled for wrap-free reads
    size_t write_ = 0;           // next history slot
    size_t filled_ = 0;          // valid frames in history (for the start)
    size_t pending_ = 0;         // frames ahead of the current output position
};

}  // namespace engine
