// One spectrum frame at the main window's size: the analyzer's 5888-pixel
// picture, as high as the information panel (61 dialog units, about 100
// pixels at the standard dialog font), 384 pixels of bars (48 bars). Target:
// at most 0.2 ms a frame and no heap allocation in it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "playback/spectrum_frame.h"

namespace {

std::atomic<long> g_allocations{0};

constexpr int kWidth = 5888;
constexpr int kHeight = 100;
constexpr int kBarArea = 384;

std::vector<float> MusicLikeSpectrum() {
    // Falling with frequency, a few peaks: every bar gets some height.
    std::vector<float> fft(playback::kFftBins);
    for (int i = 0; i < playback::kFftBins; ++i)
        fft[i] = 0.05f / (1.0f + i * 0.02f) + (i % 37 == 0 ? 0.02f : 0.0f);
    return fft;
}

void SpectrumFrame(benchmark::State& state) {
    playback::SpectrumShape shape = playback::MakeSpectrumShape(kWidth, kHeight);
    playback::SetBarArea(shape, kBarArea);
    shape.centred = state.range(0) != 0;
    std::vector<uint8_t> picture(static_cast<size_t>(kWidth) * kHeight);
    const std::vector<float> fft = MusicLikeSpectrum();
    const long before = g_allocations.load();
    for (auto _ : state) {
        playback::DrawSpectrumFrame(fft.data(), shape, picture.data());
        benchmark::DoNotOptimize(picture.data());
        benchmark::ClobberMemory();
    }
    state.counters["allocations_per_frame"] = benchmark::Counter(
        static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
    state.counters["bars"] = shape.bars;
}
BENCHMARK(SpectrumFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

// Every heap allocation of the process is counted (and left to the heap).
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
