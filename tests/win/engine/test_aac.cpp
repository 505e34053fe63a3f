// AAC in ADTS frames through the system's decoder: named by the server or
// found by sniffing, on a real Icecast, and with damaged frames in between.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr double kToneHz = 440.0;
constexpr QWORD kASecondOfAac = 96000 / 8;
constexpr float kToneRate = 44100.0f;
constexpr float kHighRate = 48000.0f;
constexpr float kGlideStartHz = 100.0f;
constexpr DWORD kGlideMs = 1000;
constexpr int kDeviceRate = 44100;

class EngineAac : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.ok()); }
    SilentEngine engine_;
};

TEST_F(EngineAac, StreamsNamedOrSniffedPlayTheirTone) {
    const struct {
        std::string url;
        float rate;
    } cases[] = {
        {RadioUrl("/stream.aac"), kToneRate},
        // HE-AAC by name; an ADTS rate of 44.1 kHz leaves no room for SBR.
        {RadioUrl("/stream.aac?type=audio%2Faacp"), kToneRate},
        // Found by sniffing, behind a type that says nothing.
        {RadioUrl("/stream.aac?type=application%2Foctet-stream&skip=1000"), kToneRate},
        {RadioUrl("/stream.aac?chunked=1&metaint=4096&title_every=20000"), kToneRate},
        {IcecastUrl("/tone.aac"), kToneRate},
        // Not the engine's default rate: known all the same once the create returns.
        {RadioUrl("/stream.aac?rate=48000"), kHighRate},
    };
    for (const auto& c : cases) {
        const std::string& url = c.url;
        SCOPED_TRACE(url);
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        float rate = 0;
        EXPECT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &rate));
        EXPECT_EQ(rate, c.rate);
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        EXPECT_TRUE(PlaysTone(h, kToneHz, 2 * kASecondOfAac)) << PlayingFrequency(h);
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

TEST_F(EngineAac, DamagedFramesAreSkippedAndTheToneGoesOn) {
    // Every 4th frame damaged: noise in its payload, or a wrong length.
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.aac?corrupt=4&fast=1").c_str(), 0,
                                     kPlayerFlags, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    std::atomic<int> ends{0};
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &ends), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    for (int second = 0; second < 4; ++second) {
        SCOPED_TRACE(second);
        EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac)) << PlayingFrequency(h);
    }
    EXPECT_EQ(ends.load(), 0);
    EXPECT_TRUE(BASS_StreamFree(h));
}

// The player's start with the pitch effect on, for a station that is not at
// the engine's default rate: silent, then up from 100 Hz to the rate read
// right after the create while the volume fades in. It must end at the
// station's own pitch and glide on the way.
TEST(EngineCapture, A48kHzStationGlidesUpToItsOwnPitch) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    ASSERT_TRUE(BASS_Init(-1, kDeviceRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    // A busy Wine's sound device may hold its first periods back (the
    // device's own matter, tested with it): a silent second warms it up.
    HSTREAM warm = BASS_StreamCreateURL(RadioUrl("/stream.mp3?fast=1").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(warm, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelSetAttribute(warm, BASS_ATTRIB_VOL, 0.0f));
    const size_t cold = CapturedFrames();
    ASSERT_TRUE(BASS_ChannelPlay(warm, FALSE));
    ASSERT_TRUE(WaitFor([&] { return CapturedFrames() > cold + kDeviceRate; }));
    EXPECT_TRUE(BASS_StreamFree(warm));

    const size_t start = CapturedFrames();
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.aac?rate=48000").c_str(), 0, kPlayerFlags,
                                     nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.0f));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    float own = 0;
    ASSERT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &own));
    EXPECT_EQ(own, kHighRate);
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_FREQ, kGlideStartHz));
    ASSERT_TRUE(BASS_ChannelSlideAttribute(h, BASS_ATTRIB_FREQ, own, kGlideMs));
    ASSERT_TRUE(BASS_ChannelSlideAttribute(h, BASS_ATTRIB_VOL, 1.0f, kGlideMs));
    // Four seconds heard: the glide is long over.
    ASSERT_TRUE(WaitFor([&] { return CapturedFrames() > start + 4 * kDeviceRate; }));
    float now = 0;
    EXPECT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &now));
    EXPECT_EQ(now, kHighRate);
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_Free());

    Capture c;
    ASSERT_TRUE(ReadCapture(&c));
    constexpr int kOnset = 1000;  // well above dither, far below the tone
    size_t onset = start;
    while (onset < c.frames() && std::abs(static_cast<int>(c.samples[onset * c.channels])) < kOnset)
        ++onset;
    const int rate = c.RateAt(onset);
    const size_t quarter = static_cast<size_t>(rate) / 4;
    ASSERT_LT(onset + 2 * static_cast<size_t>(rate), c.frames()) << "less than two seconds of sound";
    // Its first quarter second is far below the tone (at most about a third
    // of the way up); from 1.2 s on it is the tone itself.
    EXPECT_LT(DominantFrequency(c.Channel(0, onset, quarter), rate, 20, 1000), 0.5 * kToneHz);
    const size_t after = onset + rate * 6 / 5;
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_NEAR(DominantFrequency(c.Channel(ch, after, 2 * quarter), rate, 300, 600), kToneHz, 3.0)
            << "channel " << ch;
}

}  // namespace
