#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <thread>

#include "engine/dsp/fft.h"
#include "engine/dsp/levels.h"
#include "engine/dsp/mixer_frame.h"
#include "engine/dsp/ring_buffer.h"
#include "engine/dsp/slide.h"
#include "tone.h"

using namespace engine;
using engine_test::kPi;

TEST(Fft, ToneAtABinCentreHasUnitMagnitude) {
    Fft2048 fft;
    std::vector<float> in(kFftSize), out(kFftBins);
    for (size_t bin : {size_t(1), size_t(100), size_t(700)}) {
        for (size_t n = 0; n < kFftSize; ++n)
            in[n] = static_cast<float>(std::sin(2 * kPi * bin * n / kFftSize + 0.3));
        fft.magnitudes(in.data(), out.data());
        size_t loudest = 0;
        for (size_t k = 1; k < kFftBins; ++k)
            if (out[k] > out[loudest]) loudest = k;
        EXPECT_EQ(loudest, bin);
        EXPECT_NEAR(out[bin], 1.0, 0.01) << bin;
        EXPECT_NEAR(out[bin + 1], 0.5, 0.01) << "Hann: a neighbour bin shows half";
        EXPECT_LT(out[(bin + 300) % kFftBins], 1e-3);
    }
    // A constant shows in bin 0 only, at its own size.
    std::fill(in.begin(), in.end(), 0.25f);
    fft.magnitudes(in.data(), out.data());
    EXPECT_NEAR(out[0], 0.25, 1e-3);
    EXPECT_LT(out[5], 1e-4);
}

TEST(Fft, MatchesADirectTransformOfNoise) {
    Fft2048 fft;
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> in(kFftSize), out(kFftBins);
    for (float& x : in) x = u(rng);
    fft.magnitudes(in.data(), out.data());
    double wsum = 0;
    for (size_t n = 0; n < kFftSize; ++n) wsum += 0.5 - 0.5 * std::cos(2 * kPi * n / kFftSize);
    for (size_t k : {size_t(0), size_t(1), size_t(2), size_t(511), size_t(512), size_t(1023)}) {
        std::complex<double> sum = 0;
        for (size_t n = 0; n < kFftSize; ++n) {
            const double w = 0.5 - 0.5 * std::cos(2 * kPi * n / kFftSize);
            sum += in[n] * w * std::polar(1.0, -2 * kPi * double(k * n) / kFftSize);
        }
        const double expect = std::abs(sum) * (k == 0 ? 1.0 : 2.0) / wsum;
        EXPECT_NEAR(out[k], expect, 1e-4 + expect * 1e-4) << k;
    }
}

TEST(Levels, PeakOfTheWindowPackedLeftLowRightHigh) {
    EXPECT_EQ(level_window_frames(44100), 882u);
    EXPECT_EQ(level_window_frames(0), 1u);
    EXPECT_EQ(pack_level(1.0f, 0.5f), 32768u | (16384u << 16));
    EXPECT_EQ(pack_level(3.0f, NAN), 32768u) << "clipped and NaN-safe";
    EXPECT_EQ(pack_level(-0.5f, 0.0f), 0u);
    std::vector<float> block = engine_test::sine(1000, 44100, 882, 2, 0.1);
    block[2 * 400] = -0.25f;  // left
    EXPECT_EQ(stereo_level(block.data(), 882) & 0xFFFF, 8192u);
    EXPECT_NEAR(double(stereo_level(block.data(), 882) >> 16), 0.1 * 32768, 2);
    EXPECT_EQ(stereo_level(block.data(), 0), 0u);
}

TEST(Slide, LinearOverTimeAndCancelledBySet) {
    Slide s(1.0f);
    s.slide_to(0.0f, 1000);
    EXPECT_TRUE(s.sliding());
    EXPECT_FLOAT_EQ(s.advance(22050, 44100), 0.5f);
    EXPECT_FLOAT_EQ(s.advance(11025, 44100), 0.25f);
    EXPECT_FLOAT_EQ(s.advance(44100, 44100), 0.0f) << "stops at the target";
    EXPECT_FALSE(s.sliding());

    s.slide_to(1.0f, 200);
    s.advance(4410, 44100);  // 100 ms
    s.set(0.3f);
    EXPECT_FALSE(s.sliding());
    EXPECT_FLOAT_EQ(s.advance(44100, 44100), 0.3f) << "a set cancels the slide";

    // A slide from where a previous one stopped, not from its old start.
    s.slide_to(1.3f, 100);
    s.advance(2205, 44100);
    s.slide_to(0.8f, 100);
    EXPECT_FLOAT_EQ(s.advance(2205, 44100), 0.8f + (0.8f - 0.8f) * 0.5f);
    s.slide_to(0.0f, 0);
    EXPECT_FLOAT_EQ(s.value(), 0.0f);
    EXPECT_FALSE(s.sliding());
}

TEST(MixerFrame, PanAndRampedVolume) {
    float l, r;
    channel_gains(Gain{0.8f, -1.0f}, &l, &r);
    EXPECT_FLOAT_EQ(l, 0.8f);
    EXPECT_FLOAT_EQ(r, 0.0f);
    channel_gains(Gain{1.0f, 0.25f}, &l, &r);
    EXPECT_FLOAT_EQ(l, 0.75f);
    EXPECT_FLOAT_EQ(r, 1.0f);
    channel_gains(Gain{1.0f, 7.0f}, &l, &r);
    EXPECT_FLOAT_EQ(l, 0.0f) << "pan is clamped";

    std::vector<float> buf(200, 1.0f);
    apply_gain(buf.data(), 100, Gain{0.0f, 0.0f}, Gain{1.0f, 0.0f});
    for (size_t i = 1; i < 100; ++i) EXPECT_GT(buf[2 * i], buf[2 * i - 2]);
    EXPECT_FLOAT_EQ(buf[198], 1.0f);
    EXPECT_LT(buf[0], 0.02f);

    const float mono[3] = {0.1f, -0.2f, 0.3f};
    float stereo[6];
    mono_to_stereo(mono, 3, stereo);
    EXPECT_EQ(stereo[2], -0.2f);
    EXPECT_EQ(stereo[3], -0.2f);
}

TEST(RingBuffer, WrapsAndCarriesDataBetweenThreadsInOrder) {
    RingBuffer<uint32_t> small(5);
    EXPECT_EQ(small.capacity(), 8u);
    uint32_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8] = {};
    EXPECT_EQ(small.write(in, 6), 6u);
    EXPECT_EQ(small.read(out, 4), 4u);
    EXPECT_EQ(small.write(in, 8), 6u) << "only the free room";
    EXPECT_EQ(small.peek(out, 3), 3u);
    EXPECT_EQ(out[0], 5u);
    EXPECT_EQ(small.read(nullptr, 2), 2u);
    EXPECT_EQ(small.read(out, 8), 6u);
    EXPECT_EQ(out[5], 6u) << "wrapped around the end";
    EXPECT_EQ(small.readable(), 0u);

    constexpr uint32_t kCount = 2000000;
    RingBuffer<uint32_t> ring(1000);
    std::thread producer([&ring] {
        std::mt19937 rng(1);
        uint32_t next = 0, chunk[97];
        while (next < kCount) {
            const uint32_t n = std::min<uint32_t>(rng() % 97 + 1, kCount - next);
            for (uint32_t i = 0; i < n; ++i) chunk[i] = next + i;
            uint32_t done = 0;
            while (done < n) done += static_cast<uint32_t>(ring.write(chunk + done, n - done));
            next += n;
        }
    });
    uint32_t expect = 0, chunk[61];
    bool in_order = true;
    while (expect < kCount) {
        const size_t n = ring.read(chunk, 61);
        for (size_t i = 0; i < n; ++i) in_order &= chunk[i] == expect++;
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(ring.readable(), 0u);
}
