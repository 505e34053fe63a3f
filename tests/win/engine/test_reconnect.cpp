// A playing stream whose connection closes, fails or stalls is made again
// at the same address and plays on; one whose station is gone for good ends
// once the tries are used up.
#include <gtest/gtest.h>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr double kToneHz = 440.0;
constexpr QWORD kASecond = 128000 / 8;  // of the MP3 tone; the others are slower
constexpr int kDrops = 3;
// What the README states: a station gone for good ends this long after its
// connection was lost, at most (the engine tries for 20 s; here every try is
// refused at once, so the tries end after about 16 s).
constexpr DWORD kGoneForGoodMs = 20000;
constexpr DWORD kTriesTakeAtLeastMs = 15000;

class EngineReconnect : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.ok()); }
    SilentEngine engine_;
};

TEST_F(EngineReconnect, DroppedAndStalledConnectionsAreMadeAgainAndPlayOn) {
    struct Case {
        const char* id;
        const char* query;
    } cases[] = {
        // Closed after about two seconds each time, titles every second.
        {"mp3-close", "/stream.mp3?burst=8000&close=40000&metaint=8192&title_every=16000&live=1"},
        {"ogg-close", "/stream.ogg?burst=8000&close=40000"},
        {"aac-close", "/stream.aac?burst=8000&close=40000&metaint=8192&title_every=12000&live=1"},
        // Silent with the connection open: a stall.
        {"mp3-stall", "/stream.mp3?burst=8000&stall=40000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string id = std::string("id=") + c.id;
        const std::string url = RadioUrl(std::string(c.query) + "&" + id);
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        std::atomic<int> ends{0};
        SyncLog titles;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &ends), 0u);
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, RecordMeta, &titles), 0u);
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        for (int drop = 1; drop <= kDrops; ++drop) {
            SCOPED_TRACE(drop);
            // The server saw the stream come back, and it is heard again.
            EXPECT_TRUE(WaitFor([&] { return RadioCount(id) > drop; }));
            EXPECT_TRUE(PlaysTone(h, kToneHz, kASecond / 4)) << PlayingFrequency(h);
        }
        EXPECT_EQ(ends.load(), 0);
        if (std::string(c.query).find("live=1") != std::string::npos) {
            // Titles went on counting across the connections: each one new.
            std::lock_guard<std::mutex> lock(titles.mutex);
            EXPECT_GE(titles.texts.size(), static_cast<size_t>(kDrops));
            for (size_t i = 1; i < titles.texts.size(); ++i)
                EXPECT_NE(titles.texts[i], titles.texts[i - 1]);
        }
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

TEST_F(EngineReconnect, AStationGoneForGoodEndsWhenTheTriesAreUsedUp) {
    const std::string id = "gone-for-good";
    const QWORD sent = 40000;
    HSTREAM h = BASS_StreamCreateURL(
        RadioUrl("/stream.mp3?burst=8000&close=40000&gone=1&id=" + id).c_str(), 0,
        BASS_STREAM_STATUS | BASS_STREAM_BLOCK, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    std::atomic<int> ends{0};
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &ends), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitFor([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) >= sent; }));
    const DWORD lost = GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return ends.load() > 0; }, kGoneForGoodMs))
        << "no END within the time the README states";
    EXPECT_GE(GetTickCount() - lost, kTriesTakeAtLeastMs) << "the tries ended too soon";
    EXPECT_EQ(ends.load(), 1);
    // One connection, then every try refused.
    EXPECT_EQ(RadioCount("EVENT gone " + id), 8);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD), sent);
    EXPECT_TRUE(BASS_StreamFree(h));
}

}  // namespace
