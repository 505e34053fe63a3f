#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/dsp/resampler.h"
#include "engine/output/output_converter.h"
#include "tone.h"

using namespace engine;
using engine_test::kPi;

namespace {

// Runs the whole input through, in blocks of `in_block` and `out_block`.
std::vector<float> run(Resampler& r, const std::vector<float>& in, size_t in_block,
                       size_t out_block) {
    std::vector<float> out;
    std::vector<float> buf(2 * out_block);
    size_t at = 0;
    for (;;) {
        const size_t n = std::min(in_block, in.size() / 2 - at);
        size_t used = 0;
        const size_t got = r.process(in.data() + 2 * at, n, &used, buf.data(), out_block);
        out.insert(out.end(), buf.begin(), buf.begin() + 2 * got);
        at += used;
        if (got == 0 && n == 0) break;
    }
    return out;
}

// Residual after removing the best-fitting sine of `freq` and a DC offset,
// relative to that sine, in dB (THD+N).
double thd_n_db(const float* x, size_t count, size_t stride, double freq, double rate) {
    // Least squares for a*sin + b*cos + c.
    double m[3][3] = {}, v[3] = {};
    for (size_t i = 0; i < count; ++i) {
        const double s = std::sin(2 * kPi * freq * i / rate), c = std::cos(2 * kPi * freq * i / rate);
        const double basis[3] = {s, c, 1.0};
        for (int p = 0; p < 3; ++p) {
            v[p] += basis[p] * x[i * stride];
            for (int q = 0; q < 3; ++q) m[p][q] += basis[p] * basis[q];
        }
    }
    for (int p = 0; p < 3; ++p) {  // Gauss-Jordan on the 3x3 system
        for (int q = 0; q < 3; ++q) {
            if (q == p) continue;
            const double f = m[q][p] / m[p][p];
            for (int k = 0; k < 3; ++k) m[q][k] -= f * m[p][k];
            v[q] -= f * v[p];
        }
    }
    const double a = v[0] / m[0][0], b = v[1] / m[1][1], c = v[2] / m[2][2];
    double noise = 0, signal = 0;
    for (size_t i = 0; i < count; ++i) {
        const double fit = a * std::sin(2 * kPi * freq * i / rate) + b * std::cos(2 * kPi * freq * i / rate);
        signal += fit * fit;
        noise += (x[i * stride] - fit - c) * (x[i * stride] - fit - c);
    }
    return 10 * std::log10(noise / signal);
}

}  // namespace

TEST(Resampler, ToneKeepsFrequencyAndIsClean48kTo44k) {
    Resampler r;
    r.set_rates(48000, 44100);
    const auto in = engine_test::sine(1000, 48000, 48000, 2, 0.5);
    const auto out = run(r, in, 4096, 1024);
    ASSERT_NEAR(static_cast<double>(out.size() / 2), 44100.0, 64.0);
    const size_t skip = 2000;  // past the filter's start
    const size_t n = out.size() / 2 - 2 * skip;
    EXPECT_NEAR(engine_test::tone_frequency(out.data() + 2 * skip, n, 2, 44100), 1000.0, 0.05);
    const double left = thd_n_db(out.data() + 2 * skip, n, 2, 1000, 44100);
    const double right = thd_n_db(out.data() + 2 * skip + 1, n, 2, 1000, 44100);
    EXPECT_LT(left, -70.0);
    EXPECT_LT(right, -70.0);
    // Level is kept (no gain error from the filter).
    float peak = 0;
    for (size_t i = skip; i < skip + n; ++i) peak = std::max(peak, std::fabs(out[2 * i]));
    EXPECT_NEAR(peak, 0.5f, 0.005f);
}

TEST(Resampler, BlockSizesDoNotChangeTheResult) {
    std::mt19937 rng(3);
    std::vector<float> in(2 * 30000);
    std::uniform_real_distribution<float> u(-1, 1);
    for (float& x : in) x = u(rng);
    Resampler a, b;
    a.set_rates(22050, 48000);
    b.set_rates(22050, 48000);
    const auto big = run(a, in, 30000, 100000);
    std::vector<float> small;
    std::vector<float> buf(2 * 300);
    size_t at = 0;
    while (true) {
        const size_t n = std::min<size_t>(rng() % 300, in.size() / 2 - at);
        const size_t cap = rng() % 300 + 1;
        size_t used = 0;
        const size_t got = b.process(in.data() + 2 * at, n, &used, buf.data(), cap);
        small.insert(small.end(), buf.begin(), buf.begin() + 2 * got);
        at += used;
        if (at == in.size() / 2 && got == 0) break;
    }
    ASSERT_EQ(small.size(), big.size());
    for (size_t i = 0; i < big.size(); ++i) ASSERT_NEAR(small[i], big[i], 1e-5) << i;
}

TEST(Resampler, GlideDownTo100HzAndBackHasNoClicks) {
    // The FREQ attribute gliding 44100 -> 100 -> 44100 Hz over two seconds of
    // output, changed every 256 output frames as the mixer does.
    constexpr double kOut = 44100;
    constexpr double kAmp = 0.5;
    Resampler r;
    r.set_rates(kOut, kOut);
    const auto in = engine_test::sine(1000, kOut, 200000, 2, kAmp);
    std::vector<float> out, buf(2 * 256);
    size_t at = 0;
    const size_t blocks = static_cast<size_t>(2 * kOut / 256);
    const size_t settle = 20;  // blocks back at the original rate
    for (size_t b = 0; b < blocks + settle; ++b) {
        const double t = std::min(1.0, static_cast<double>(b) / blocks);  // 0..1
        const double rate = 100 + (kOut - 100) * std::fabs(1 - 2 * t);
        r.set_rates(rate, kOut);
        size_t got = 0;
        while (got < 256) {
            size_t used = 0;
            const size_t n = std::min<size_t>(512, in.size() / 2 - at);
            got += r.process(in.data() + 2 * at, n, &used, buf.data() + 2 * got, 256 - got);
            at += used;
        }
        out.insert(out.end(), buf.begin(), buf.end());
    }
    // A smooth sine of at most 1 kHz never bends faster than this; a click does.
    const double bend_limit = 1.2 * kAmp * std::pow(2 * kPi * 1000 / kOut, 2);
    double worst = 0;
    for (size_t i = 2000 * 2; i + 2 < out.size(); i += 2)
        worst = std::max(worst, std::fabs(out[i + 2] - 2.0 * out[i] + out[i - 2]));
    EXPECT_LT(worst, bend_limit);
    // Still the full tone at the end, back at the original rate.
    const size_t tail = out.size() / 2 - 2000;
    EXPECT_NEAR(engine_test::tone_frequency(out.data() + 2 * tail, 1500, 2, kOut), 1000.0, 0.5);
}

// The device's last step: the mix into 16-bit periods of the output.
TEST(OutputConverter, PassesTheMixStraightThroughAtTheOutputsRate) {
    OutputConverter c;
    c.Reset(44100, 44100, 4);
    EXPECT_FALSE(c.resampling());
    ASSERT_EQ(c.MixFramesWanted(), 4u);
    const float mix[8] = {0.0f, 0.5f, -0.5f, 1.0f, 2.0f, -2.0f, NAN, -1.0f};
    c.Push(mix, 4);
    EXPECT_EQ(c.MixFramesWanted(), 0u);
    int16_t out[8] = {};
    ASSERT_TRUE(c.TakePeriod(out));
    const int16_t want[8] = {0, 16384, -16384, 32767, 32767, -32768, -32768, -32767};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], want[i]) << i;
    EXPECT_FALSE(c.TakePeriod(out));
    EXPECT_EQ(c.ToMixFrames(12345), 12345u);
}

TEST(OutputConverter, ResamplesTheMixForAnOutputAtAnotherRate) {
    constexpr int kMix = 44100, kOut = 48000, kPeriod = 480, kPeriods = 200;
    OutputConverter c;
    c.Reset(kMix, kOut, kPeriod);
    EXPECT_TRUE(c.resampling());
    const auto tone = engine_test::sine(440, kMix, kMix * 3, 2, 0.5);
    std::vector<int16_t> period(2 * kPeriod);
    std::vector<float> heard;
    size_t mixed = 0;
    for (int p = 0; p < kPeriods; ++p) {
        for (size_t n; (n = c.MixFramesWanted()) > 0; mixed += n) {
            ASSERT_LE(mixed + n, tone.size() / 2);
            c.Push(tone.data() + 2 * mixed, n);
        }
        ASSERT_TRUE(c.TakePeriod(period.data()));
        for (int16_t s : period) heard.push_back(s / 32768.0f);
    }
    // As much of the mix as the output played, give or take the filter.
    const double out_frames = static_cast<double>(kPeriods) * kPeriod;
    EXPECT_NEAR(static_cast<double>(mixed), out_frames * kMix / kOut, 64.0);
    EXPECT_EQ(c.ToMixFrames(kOut), static_cast<uint64_t>(kMix));
    // The tone keeps its pitch and level at the output's rate.
    const size_t skip = 1000;  // past the filter's start
    const size_t n = heard.size() / 2 - skip;
    EXPECT_NEAR(engine_test::tone_frequency(heard.data() + 2 * skip, n, 2, kOut), 440.0, 0.05);
    float peak = 0;
    for (size_t i = skip; i < skip + n; ++i) peak = std::max(peak, std::fabs(heard[2 * i + 1]));
    EXPECT_NEAR(peak, 0.5f, 0.005f);
    // Dropped on a flush: the next period waits for new mix.
    c.Drop();
    EXPECT_GE(c.MixFramesWanted(), static_cast<size_t>(kPeriod * kMix / kOut));
    EXPECT_FALSE(c.TakePeriod(period.data()));
}
