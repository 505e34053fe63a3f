// AAC in ADTS frames through the system's decoder: named by the server or
// found by sniffing, on a real Icecast, and with damaged frames in between.
#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr double kToneHz = 440.0;
constexpr QWORD kASecondOfAac = 96000 / 8;
constexpr float kToneRate = 44100.0f;

class EngineAac : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.ok()); }
    SilentEngine engine_;
};

TEST_F(EngineAac, StreamsNamedOrSniffedPlayTheirTone) {
    const std::string cases[] = {
        RadioUrl("/stream.aac"),
        // HE-AAC by name; an ADTS rate of 44.1 kHz leaves no room for SBR.
        RadioUrl("/stream.aac?type=audio%2Faacp"),
        // Found by sniffing, behind a type that says nothing.
        RadioUrl("/stream.aac?type=application%2Foctet-stream&skip=1000"),
        RadioUrl("/stream.aac?chunked=1&metaint=4096&title_every=20000"),
        IcecastUrl("/tone.aac"),
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        float rate = 0;
        EXPECT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &rate));
        EXPECT_EQ(rate, kToneRate);
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

}  // namespace
