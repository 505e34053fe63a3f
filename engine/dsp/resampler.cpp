#include "engine/dsp/resampler.h"

#include <cmath>
#include <cstring>

namespace engine {
namespace {

constexpr int kZeroCrossings = 32;      // kernel reach at full bandwidth, each side
constexpr int kTableSteps = 256;        // table entries per zero crossing
constexpr double kKaiserBeta = 8.6;     // about 85 dB stop-band attenuation
constexpr double kPassFraction = 0.91;  // cutoff below the lower Nyquist frequency
constexpr double kMinCutoff = kPassFraction / 8.0;  // steeper decimation aliases a little
constexpr size_t kBufferFrames = 8192;
constexpr double kPi = 3.14159265358979323846;

double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// The windowed sinc at 0, 1/kTableSteps, ... kZeroCrossings (zero crossings
// of the sinc at the integers), plus one zero entry for interpolation.
struct KernelTable {
    float v[kZeroCrossings * kTableSteps + 2];
    KernelTable() {
        const double norm = bessel_i0(kKaiserBeta);
        const int n = kZeroCrossings * kTableSteps;
        for (int i = 0; i <= n; ++i) {
            const double x = static_cast<double>(i) / kTableSteps;
            const double sinc = i == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            const double r = x / kZeroCrossings;
            const double w = bessel_i0(kKaiserBeta * std::sqrt(std::fmax(0.0, 1.0 - r * r))) / norm;
            v[i] = static_cast<float>(sinc * w);
        }
        v[n + 1] = 0.0f;
    }
};

const KernelTable& kernel() {
    static const KernelTable table;
    return table;
}

double clamp_rate(double r) {
    if (!(r >= kResamplerMinRate)) return kResamplerMinRate;  // also NaN
    return r > kResamplerMaxRate ? kResamplerMaxRate : r;
}

// Frames kept behind the output time: enough for the widest filter.
const size_t kKeepBehind = static_cast<size_t>(kZeroCrossings / kMinCutoff) + 2;

}  // namespace

Resampler::Resampler() : buf_(kBufferFrames * 2) {
    kernel();
    update_filter();
    reset();
}

void Resampler::set_rates(double in_rate, double out_rate) {
    in_rate_ = clamp_rate(in_rate);
    out_rate_ = clamp_rate(out_rate);
    update_filter();
}

void Resampler::update_filter() {
    step_ = in_rate_ / out_rate_;
    double c = kPassFraction * (step_ > 1.0 ? 1.0 / step_ : 1.0);
    if (c < kMinCutoff) c = kMinCutoff;
    cutoff_ = c;
    half_width_ = kZeroCrossings / cutoff_;
}

void Resampler::reset() {
    // Silence before the first frame, so the first output is not delayed by
    // waiting for filter history.
    frames_ = kKeepBehind;
    std::memset(buf_.data(), 0, frames_ * 2 * sizeof(float));
    pos_ = static_cast<double>(kKeepBehind);
}

size_t Resampler::input_for_output(size_t out_frames) const {
    return static_cast<size_t>(std::ceil(static_cast<double>(out_frames) * step_ + half_width_)) + 2;
}

void Resampler::render(float* out) {
    const float* table = kernel().v;
    const long centre = static_cast<long>(pos_);
    const long reach = static_cast<long>(half_width_) + 1;
    long first = centre - reach + 1;
    const long last = centre + reach;
    if (first < 0) first = 0;
    // Walk the kernel table in steps of the cutoff instead of recomputing
    // each tap's position.
    const double step = cutoff_ * kTableSteps;
    double x = (static_cast<double>(first) - pos_) * step;
    constexpr double kTableEnd = kZeroCrossings * kTableSteps;
    const float* frame = buf_.data() + 2 * static_cast<size_t>(first);
    float l = 0.0f, r = 0.0f, wsum = 0.0f;
    for (long k = first; k <= last; ++k, x += step, frame += 2) {
        const double idx = x < 0 ? -x : x;
        if (idx >= kTableEnd) continue;
        const size_t i = static_cast<size_t>(idx);
        const float f = static_cast<float>(idx - static_cast<double>(i));
        const float w = table[i] + (table[i + 1] - table[i]) * f;
        l += w * frame[0];
        r += w * frame[1];
        wsum += w;
    }
    // Normalising keeps the DC gain exactly 1 whatever the cutoff and phase.
    const float g = wsum != 0.0f ? 1.0f / wsum : 0.0f;
    out[0] = l * g;
    out[1] = r * g;
}

size_t Resampler::process(const float* in, size_t in_frames, size_t* in_used, float* out,
                          size_t out_frames) {
    size_t used = 0, produced = 0;
    for (;;) {
        const double reach = std::floor(half_width_) + 1.0;
        while (produced < out_frames && std::floor(pos_) + reach < static_cast<double>(frames_)) {
            render(out + 2 * produced);
            ++produced;
            pos_ += step_;
        }
        if (produced == out_frames || used == in_frames) break;
        // Drop what the filter no longer reaches, then take more input.
        const double behind = std::floor(pos_) - static_cast<double>(kKeepBehind);
        if (behind > 0) {
            size_t drop = static_cast<size_t>(behind);
            if (drop > frames_) drop = frames_;
            std::memmove(buf_.data(), buf_.data() + 2 * drop, (frames_ - drop) * 2 * sizeof(float));
            frames_ -= drop;
            pos_ -= static_cast<double>(drop);
        }
        size_t n = in_frames - used;
        if (n > kBufferFrames - frames_) n = kBufferFrames - frames_;
        if (n == 0) break;  // cannot happen: the filter needs far less than the buffer
        std::memcpy(buf_.data() + 2 * frames_, in + 2 * used, n * 2 * sizeof(float));
        frames_ += n;
        used += n;
    }
    *in_used = used;
    return produced;
}

}  // namespace engine
