#include "engine/dsp/fft.h"

#include <cmath>

namespace engine {
namespace {
constexpr size_t kHalf = kFftSize / 2;
constexpr double kPi = 3.14159265358979323846;

// Plain product: std::complex's operator* also handles infinities and NaNs,
// which costs a library call per butterfly.
inline std::complex<float> mul(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
}  // namespace

Fft2048::Fft2048()
    : window_(kFftSize), twiddle_(kHalf / 2), split_(kHalf), bitrev_(kHalf), work_(kHalf) {
    double wsum = 0.0;
    for (size_t n = 0; n < kFftSize; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(n) / kFftSize);
        window_[n] = static_cast<float>(w);
        wsum += w;
    }
    // A sine of amplitude A at a bin centre gives |X| = A * sum(w) / 2.
    scale_ = static_cast<float>(2.0 / wsum);
    for (size_t k = 0; k < kHalf / 2; ++k) {
        const double a = -2.0 * kPi * static_cast<double>(k) / kHalf;
        twiddle_[k] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
    for (size_t k = 0; k < kHalf; ++k) {
        const double a = -2.0 * kPi * static_cast<double>(k) / kFftSize;
        split_[k] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
    size_t bits = 0;
    while ((size_t(1) << bits) < kHalf) ++bits;
    for (size_t i = 0; i < kHalf; ++i) {
        size_t r = 0;
        for (size_t b = 0; b < bits; ++b)
            if (i & (size_t(1) << b)) r |= size_t(1) << (bits - 1 - b);
        bitrev_[i] = static_cast<uint16_t>(r);
    }
}

void Fft2048::magnitudes(const float* samples, float* out) {
    using C = std::complex<float>;
    for (size_t i = 0; i < kHalf; ++i) {
        const size_t j = bitrev_[i];
        work_[j] = C(samples[2 * i] * window_[2 * i], samples[2 * i + 1] * window_[2 * i + 1]);
    }
    for (size_t len = 2; len <= kHalf; len <<= 1) {
        const size_t half = len / 2;
        const size_t stride = kHalf / len;
        for (size_t start = 0; start < kHalf; start += len) {
            for (size_t k = 0; k < half; ++k) {
                const C t = mul(twiddle_[k * stride], work_[start + k + half]);
                const C u = work_[start + k];
                work_[start + k] = u + t;
                work_[start + k + half] = u - t;
            }
        }
    }
    // Untangle the even (real part) and odd (imaginary part) transforms.
    for (size_t k = 0; k < kHalf; ++k) {
        const C a = work_[k];
        const C b = std::conj(work_[k == 0 ? 0 : kHalf - k]);
        const C even = (a + b) * 0.5f;
        const C d = a - b;
        const C odd(d.imag() * 0.5f, -d.real() * 0.5f);  // (a - b) / 2i
        const C x = even + mul(split_[k], odd);
        out[k] = std::sqrt(x.real() * x.real() + x.imag() * x.imag()) *
                 (k == 0 ? scale_ * 0.5f : scale_);
    }
}

}  // namespace engine
