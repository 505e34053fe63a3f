// Speed of the engine's per-sample and per-byte work: the spectrum's FFT (40
// per second while playing), resampling to the device rate, and taking ICY
// metadata out of the received bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/dsp/fft.h"
#include "engine/dsp/resampler.h"
#include "engine/net/icy_demux.h"

namespace {

void BM_Fft2048(benchmark::State& state) {
    engine::Fft2048 fft;
    std::vector<float> in(engine::kFftSize), out(engine::kFftBins);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-1, 1);
    for (float& x : in) x = u(rng);
    for (auto _ : state) {
        fft.magnitudes(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Fft2048);

// Stereo frames in per second at the given rates (arguments in Hz).
void BM_Resampler(benchmark::State& state) {
    engine::Resampler r;
    r.set_rates(static_cast<double>(state.range(0)), static_cast<double>(state.range(1)));
    constexpr size_t kBlock = 4096;
    std::vector<float> in(2 * kBlock), out(2 * kBlock * 8);
    for (size_t i = 0; i < kBlock; ++i)
        in[2 * i] = in[2 * i + 1] = static_cast<float>(std::sin(i * 0.1));
    for (auto _ : state) {
        size_t used = 0, at = 0;
        while (at < kBlock) {
            r.process(in.data() + 2 * at, kBlock - at, &used, out.data(), kBlock * 8);
            at += used;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_Resampler)->Args({48000, 44100})->Args({22050, 44100})->Args({44100, 44100})
    ->Args({1000, 44100});

// Received bytes per second with a metadata block every 8192 bytes.
void BM_IcyDemux(benchmark::State& state) {
    constexpr uint32_t kMetaint = 8192;
    std::vector<uint8_t> wire;
    std::mt19937 rng(2);
    for (int b = 0; b < 32; ++b) {
        for (uint32_t i = 0; i < kMetaint; ++i) wire.push_back(static_cast<uint8_t>(rng()));
        const std::string meta = b % 4 ? "" : "StreamTitle='Artist - Title';";
        const size_t units = (meta.size() + 15) / 16;
        wire.push_back(static_cast<uint8_t>(units));
        wire.insert(wire.end(), meta.begin(), meta.end());
        wire.insert(wire.end(), units * 16 - meta.size(), 0);
    }
    const size_t piece = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> audio(piece);
    std::vector<engine::IcyMeta> metas;
    engine::IcyDemux demux(kMetaint);
    for (auto _ : state) {
        for (size_t at = 0; at < wire.size(); at += piece) {
            const size_t n = std::min(piece, wire.size() - at);
            benchmark::DoNotOptimize(demux.feed(wire.data() + at, n, audio.data(), &metas));
        }
        metas.clear();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wire.size()));
}
BENCHMARK(BM_IcyDemux)->Arg(1460)->Arg(16384);

}  // namespace
