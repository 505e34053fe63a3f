// The spectrum the player draws: a 2048-point real FFT of the audible mono
// mix with a Hann window, as 1024 magnitudes. Bin 0 is DC; a full-scale sine
// exactly at a bin centre gives about 1.0 in that bin.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

constexpr size_t kFftSize = 2048;
constexpr size_t kFftBins = kFftSize / 2;

class Fft2048 {
public:
    Fft2048();
    // samples: kFftSize mono values, oldest first. out: kFftBins magnitudes.
    void magnitudes(const float* samples, float* out);

private:
    // The real transform runs as a half-size complex one on even/odd pairs.
    std::vector<float> window_;
    std::vector<std::complex<float>> twiddle_;  // for the half-size transform
    std::vector<std::complex<float>> split_;    // e^{-2 pi i k / kFftSize}, for the split
    std::vector<uint16_t> bitrev_;
    std::vector<std::complex<float>> work_;
    float scale_ = 0.0f;
};

}  // namespace engine
