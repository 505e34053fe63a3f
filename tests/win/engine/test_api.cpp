// The engine's calls without a network: versions, initialisation states,
// handle checks and the per-thread error code.
#include <gtest/gtest.h>

#include <thread>

#include "engine_test_support.h"

namespace {

using enginetest::SilentEngine;

constexpr QWORD kNoPosition = static_cast<QWORD>(-1);
constexpr DWORD kNoValue = static_cast<DWORD>(-1);

TEST(EngineApi, VersionAndInitialisationStates) {
    EXPECT_EQ(BASS_GetVersion() >> 16, static_cast<DWORD>(BASSVERSION));

    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_StreamCreateURL("http://127.0.0.1:1/", 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Init(7, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);

    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);

    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1));
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0));
    EXPECT_FALSE(BASS_SetConfig(9999, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    EXPECT_FALSE(BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 101));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);

    EXPECT_EQ(BASS_StreamCreateURL(nullptr, 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);

    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    // A second life after a free.
    ASSERT_TRUE(BASS_Init(0, 48000, 0, nullptr, nullptr));
    EXPECT_TRUE(BASS_Free());
}

// Every call that takes a handle refuses ones that are not live streams.
void ExpectHandleRefused(DWORD h) {
    SCOPED_TRACE(h);
    auto expect_error = [] { EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE); };
    float value = 0;
    float fft[1024];
    EXPECT_FALSE(BASS_StreamFree(h));
    expect_error();
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), kNoPosition);
    expect_error();
    EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_HTTP), nullptr);
    expect_error();
    EXPECT_EQ(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, enginetest::CountSync, nullptr), 0u);
    expect_error();
    EXPECT_FALSE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.5f));
    expect_error();
    EXPECT_FALSE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &value));
    expect_error();
    EXPECT_FALSE(BASS_ChannelSlideAttribute(h, BASS_ATTRIB_VOL, 1.0f, 1000));
    expect_error();
    EXPECT_FALSE(BASS_ChannelPlay(h, FALSE));
    expect_error();
    EXPECT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT2048), kNoValue);
    expect_error();
    EXPECT_EQ(BASS_ChannelGetLevel(h), kNoValue);
    expect_error();
}

TEST(EngineApi, HandlesThatAreNotStreamsAreRefused) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    for (DWORD h : {0u, 1u, 12345u, 0x00010001u, 0xFFFFFFFFu}) ExpectHandleRefused(h);
}

TEST(EngineApi, ErrorCodeBelongsToTheCallingThread) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    EXPECT_FALSE(BASS_StreamFree(4242));
    int other = -2;
    std::thread t([&] {
        EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1));
        other = BASS_ErrorGetCode();
    });
    t.join();
    EXPECT_EQ(other, BASS_OK);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

}  // namespace
