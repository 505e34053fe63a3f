// Stereo float sample-rate conversion with a Kaiser-windowed sinc filter
// (tabulated kernel, linearly interpolated, scaled to the cutoff so one table
// serves every ratio). The ratio may change
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
    // Output lags input by the filter's reach (under a millisecond at common
    // rates): at the end of a stream, feed silence to bring out the last frames.
    size_t process(const float* in, size_t in_frames, size_t* in_used, float* out,
                   size_t out_frames);

    // Input frames needed to produce out_frames more at the current ratio
    // (an estimate that errs on the high side).
    size_t input_for_output(size_t out_frames) const;

private:
    void update_filter();
    void render(float* out);

    double in_rate_ = 44100.0, out_rate_ = 44100.0;
    double step_ = 1.0;      // input frames per output frame
    double cutoff_ = 0.0;    // relative to the input Nyquist frequency
    double half_width_ = 0;  // filter reach to each side, in input frames
    std::vector<float> buf_; // interleaved input frames, oldest first
    size_t frames_ = 0;      // frames held in buf_
    double pos_ = 0.0;       // time of the next output frame, in buf_ frames
};

}  // namespace engine
