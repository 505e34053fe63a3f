// HLS stations from the local HLS server (tools/radio/hls_server.py): ffmpeg's
// own lists and segments, and lists written by the server for live windows,
// titles and faults. Played on the silent device, and once on the captured
// default device.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr double kToneHz = 440.0;
constexpr double kSwitchHz = 880.0;
constexpr float kSwitchRate = 48000.0f;
constexpr QWORD kASecondOfAac = 96000 / 8;
constexpr DWORD kAtOnceMs = 1000;
constexpr DWORD kReconnectBoundMs = 20000;  // engine/net/reconnect.h
// A frozen list ends after it counts as lost (4 s), the reconnect bound and
// what was buffered: far less than this.
constexpr DWORD kFrozenEndMs = 60000;
constexpr int kSegmentTries = 3;
constexpr DWORD kSettledMs = 500;  // no byte for this long: a download of a short list is done

// META syncs with the decoder's input position when each fired.
struct TitleLog {
    std::mutex mutex;
    std::vector<std::pair<std::string, QWORD>> heard;
};
void CALLBACK RecordTitleAt(HSYNC, DWORD channel, DWORD, void* user) {
    auto* log = static_cast<TitleLog*>(user);
    const char* meta = BASS_ChannelGetTags(channel, BASS_TAG_META);
    const QWORD at = BASS_StreamGetFilePosition(channel, BASS_FILEPOS_CURRENT);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->heard.emplace_back(meta ? meta : "", at);
}

class EngineHls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HaveHls()) << "run through with_servers.sh --hls";
        ASSERT_TRUE(engine_.ok());
    }
    // Creates as the player does; its END syncs are counted in ends_.
    HSTREAM Open(const std::string& path) {
        const HSTREAM h = BASS_StreamCreateURL(HlsUrl(path).c_str(), 0, kPlayerFlags, nullptr, nullptr);
        if (h && !BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &ends_)) ADD_FAILURE() << "no END sync";
        return h;
    }
    // Open, then play; 0 after a failure it reports.
    HSTREAM Play(const std::string& path) {
        const HSTREAM h = Open(path);
        if (!h)
            ADD_FAILURE() << path << ": error " << BASS_ErrorGetCode();
        else if (!BASS_ChannelPlay(h, FALSE))
            ADD_FAILURE() << path << ": not played";
        return h;
    }
    bool Ended() { return WaitFor([&] { return ends_.load() > 0; }); }
    SilentEngine engine_;
    std::atomic<int> ends_{0};
};

TEST_F(EngineHls, ListsOfEveryKindPlayTheirToneAndEndWithTheList) {
    const struct {
        std::string path;
        const char* first_title;  // EXTINF's, when the list has them
        bool to_the_end;
    } cases[] = {
        {"/ff/ts/index.m3u8", nullptr, false},
        {"/ff/fmp4/index.m3u8", nullptr, false},
        {"/ff/aes/index.m3u8", nullptr, false},
        // Byte ranges of one file, every URI absolute.
        {"/ff/single/index.m3u8?abs=1", nullptr, false},
        // Told by its text, whatever its type; reached through a redirect.
        {"/redirect?to=" + QueryValue(HlsUrl("/ff/ts/index.m3u8?type=text%2Fplain")), nullptr, false},
        {"/mux.m3u8?count=3&packed=1&extinf=1", "StreamTitle='Segment 0';", true},
        // AES-128 whose IV is each segment's media sequence number.
        {"/mux.m3u8?count=3&key=aes&extinf=1", "StreamTitle='Segment 0';", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ends_ = 0;
        HSTREAM h = Open(c.path);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        SyncLog titles;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, RecordMeta, &titles), 0u);
        if (c.first_title) {
            EXPECT_STREQ(BASS_ChannelGetTags(h, BASS_TAG_META), c.first_title);
        }
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac)) << PlayingFrequency(h);
        if (c.to_the_end) {
            EXPECT_TRUE(Ended());
            // Each segment's title was heard in turn.
            EXPECT_EQ(titles.Last(), "StreamTitle='Segment 2';");
            EXPECT_EQ(titles.count.load(), 2);
        } else {
            EXPECT_TRUE(BASS_StreamFree(h));
        }
    }
}

TEST_F(EngineHls, LiveWindowIsJoinedNearItsEdgeAndFollowedSegmentBySegment) {
    // Six 1 s segments listed, a new one every second from the first request.
    const std::string id = "live-follow";
    const HSTREAM h = Play("/mux.m3u8?window=6&id=" + id);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac));
    // Joined about three target durations from the edge (segment 5).
    constexpr int kJoined = 2, kLast = 9;
    ASSERT_TRUE(WaitFor([&] { return RadioSaw("GET /mux/" + std::to_string(kLast) + ".ts?window=6&id=" + id); }));
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac));
    for (int k = 0; k <= kLast; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(RadioCount("GET /mux/" + std::to_string(k) + ".ts?window=6&id=" + id), k < kJoined ? 0 : 1);
    }
    // The new segments came from reloads of the list.
    EXPECT_GE(RadioCount("GET /mux.m3u8?window=6&id=" + id), kLast - 5 + 1);
    EXPECT_EQ(ends_.load(), 0);
    EXPECT_TRUE(BASS_StreamFree(h));
}

TEST_F(EngineHls, MultivariantListFallsBackPastAnUnplayableVariantAndNamesTheStation) {
    const std::string id = "variants";
    const HSTREAM h = Play("/master.m3u8?id=" + id);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac)) << PlayingFrequency(h);
    // The best variant names no codec: tried, and its AC-3 refused.
    EXPECT_TRUE(RadioSaw("GET /mux/0.ts?count=6&audio=ac3&variant=probe&id=" + id));
    EXPECT_EQ(RadioCount("variant=never&id=" + id), 0);  // AC-3 by its CODECS
    // The next has video: its audio comes from its rendition alone.
    EXPECT_TRUE(RadioSaw("GET /mux/0.ts?count=6&variant=rendition&id=" + id));
    EXPECT_EQ(RadioCount("variant=video&id=" + id), 0);
    EXPECT_EQ(RadioCount("variant=low&id=" + id), 0);
    const char* head = BASS_ChannelGetTags(h, BASS_TAG_HTTP);
    EXPECT_TRUE(TagListHas(head, "icy-name:HLS Test Radio"));
    EXPECT_TRUE(TagListHas(head, "icy-br:96"));
    EXPECT_TRUE(BASS_StreamFree(h));

    // The same list live, with timed titles: a station as the player is given
    // it, named, its bit rate told, its title changing as it is heard.
    const HSTREAM live = Play("/master.m3u8?live=1&titles=1&id=live-" + id);
    ASSERT_NE(live, 0u);
    SyncLog titles;
    ASSERT_NE(BASS_ChannelSetSync(live, BASS_SYNC_META, 0, RecordMeta, &titles), 0u);
    head = BASS_ChannelGetTags(live, BASS_TAG_HTTP);
    EXPECT_TRUE(TagListHas(head, "icy-name:HLS Test Radio"));
    EXPECT_TRUE(TagListHas(head, "icy-br:96"));
    EXPECT_TRUE(PlaysTone(live, kToneHz, kASecondOfAac)) << PlayingFrequency(live);
    ASSERT_TRUE(WaitFor([&] { return titles.count.load() >= 2; }));
    {
        std::lock_guard<std::mutex> lock(titles.mutex);
        EXPECT_EQ(titles.texts[0].rfind("StreamTitle='Live ", 0), 0u) << titles.texts[0];
        EXPECT_EQ(titles.texts[1].rfind("StreamTitle='Live ", 0), 0u) << titles.texts[1];
        EXPECT_NE(titles.texts[0], titles.texts[1]);
    }
    EXPECT_EQ(ends_.load(), 0);
    EXPECT_TRUE(BASS_StreamFree(live));
}

TEST_F(EngineHls, DiscontinuityStartsTheDecoderAfreshAtTheNewRate) {
    // Two segments of 440 Hz at 44.1 kHz, then 880 Hz at 48 kHz.
    const HSTREAM h = Play("/mux.m3u8?count=4&disc_at=2");
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac / 2));
    float rate = 0;
    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &rate) && rate == kSwitchRate; }))
        << rate;
    EXPECT_TRUE(PlaysTone(h, kSwitchHz, kASecondOfAac / 2)) << PlayingFrequency(h);
    EXPECT_TRUE(Ended());
    EXPECT_EQ(ends_.load(), 1);
}

TEST_F(EngineHls, TimedTitlesChangeWhenTheirMomentIsHeard) {
    // ID3 titles at 0 s, 2.7 s and 4.7 s of a 6 s list (1 s segments).
    HSTREAM h = Open("/mux.m3u8?count=6&titles=1");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    TitleLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, RecordTitleAt, &log), 0u);
    EXPECT_STREQ(BASS_ChannelGetTags(h, BASS_TAG_META), "StreamTitle='Title One';");
    // All of it is downloaded long before it is heard.
    QWORD all = 0;
    DWORD since = GetTickCount();
    ASSERT_TRUE(WaitFor([&] {
        const QWORD now = BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD);
        if (now != all) {
            all = now;
            since = GetTickCount();
        }
        return GetTickCount() - since >= kSettledMs;
    }));
    ASSERT_GT(all, 5 * kASecondOfAac * 4 / 5) << "less than the whole list came";
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac));
    ASSERT_TRUE(Ended());
    const double per_second = all / 5.99;
    std::lock_guard<std::mutex> lock(log.mutex);
    ASSERT_EQ(log.heard.size(), 2u);
    const struct {
        const char* title;
        double at_s;
    } expected[] = {{"StreamTitle='Title Two';", 2.7}, {"StreamTitle='Title Three';", 4.7}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(expected[i].title);
        EXPECT_EQ(log.heard[i].first, expected[i].title);
        // When heard: the decoder is past its moment, but not a second past.
        EXPECT_GE(log.heard[i].second, (expected[i].at_s - 0.1) * per_second);
        EXPECT_LE(log.heard[i].second, (expected[i].at_s + 1.0) * per_second);
    }
}

TEST_F(EngineHls, StreamsThatCannotBePlayedFailWithTheirErrorCodes) {
    const struct {
        const char* path;
        int error;
    } cases[] = {
        {"/mux.m3u8?count=3&key=sample", BASS_ERROR_CODEC},   // SAMPLE-AES
        {"/mux.m3u8?count=3&audio=ac3", BASS_ERROR_CODEC},    // no audio we decode
        {"/mux.m3u8?count=3&key=lost", BASS_ERROR_FILEOPEN},  // the key is not there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const DWORD start = GetTickCount();
        EXPECT_EQ(Open(c.path), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
        EXPECT_LT(GetTickCount() - start, kAtOnceMs * 5) << "tries a failing request a few times, no more";
    }
}

TEST_F(EngineHls, MissingSegmentIsTriedAgainThenSkipped) {
    const std::string id = "skip-one";
    const HSTREAM h = Play("/mux.m3u8?count=4&missing=1&id=" + id);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(PlaysTone(h, kToneHz, kASecondOfAac));
    EXPECT_TRUE(Ended());
    EXPECT_EQ(RadioCount("GET /mux/1.ts?count=4&missing=1&id=" + id), kSegmentTries);
    EXPECT_EQ(RadioCount("GET /mux/2.ts?count=4&missing=1&id=" + id), 1);
    EXPECT_EQ(RadioCount("GET /mux/3.ts?count=4&missing=1&id=" + id), 1);
}

TEST_F(EngineHls, LiveListThatStopsAdvancingIsALostConnectionAndEnds) {
    // Frozen from the start: four segments listed, never a fifth.
    const std::string frozen = "/mux.m3u8?window=4&freeze_after=3&id=";
    HSTREAM ending = Open(frozen + "frozen-end");
    ASSERT_NE(ending, 0u) << BASS_ErrorGetCode();
    const DWORD start = GetTickCount();
    ASSERT_TRUE(BASS_ChannelPlay(ending, FALSE));

    // Another waits between reloads when it is freed: that ends at once.
    HSTREAM freed = Open(frozen + "frozen-free");
    ASSERT_NE(freed, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(WaitFor([&] { return RadioCount("GET " + frozen + "frozen-free") >= 3; }));
    const DWORD free_start = GetTickCount();
    EXPECT_TRUE(BASS_StreamFree(freed));
    EXPECT_LT(GetTickCount() - free_start, kAtOnceMs);

    EXPECT_TRUE(PlaysTone(ending, kToneHz, kASecondOfAac / 2));
    ASSERT_TRUE(WaitFor([&] { return ends_.load() > 0; }, kFrozenEndMs));
    EXPECT_GE(GetTickCount() - start, kReconnectBoundMs);
    // Reloaded on and on while it was lost.
    EXPECT_GT(RadioCount("GET " + frozen + "frozen-end"), 10);
}

// The captured default device: a segment that cannot be had is heard as
// silence of its own length, and the sound before and after it is the tone.
TEST(EngineCapture, HlsSegmentThatCannotBeHadIsHeardAsSilenceOfItsLength) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    ASSERT_TRUE(HaveHls()) << "run through with_servers.sh --hls";
    constexpr int kRate = 44100;
    ASSERT_TRUE(BASS_Init(-1, kRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const size_t start = CapturedFrames();
    // Five segments of 0.998 s; the third answers 404.
    HSTREAM h = BASS_StreamCreateURL(HlsUrl("/mux.m3u8?count=5&missing=2&id=capture").c_str(), 0, kPlayerFlags,
                                     nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    std::atomic<int> ends{0};
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &ends), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitFor([&] { return ends.load() > 0; }));
    // What was played has reached the device.
    const size_t played = CapturedFrames();
    ASSERT_TRUE(WaitFor([&] { return CapturedFrames() > played + kRate / 2; }));
    EXPECT_TRUE(BASS_Free());

    Capture c;
    ASSERT_TRUE(ReadCapture(&c));
    constexpr int kLoud = 4000;  // well above dither and the tone's fade, far below the tone
    size_t first = start, last = c.frames();
    while (first < c.frames() && std::abs(static_cast<int>(c.samples[first * c.channels])) < kLoud) ++first;
    while (last > first && std::abs(static_cast<int>(c.samples[(last - 1) * c.channels])) < kLoud) --last;
    const int rate = c.RateAt(first);
    ASSERT_GT(last, first + static_cast<size_t>(rate)) << "no sound";
    constexpr double kSegmentS = 43 * 1024 / 44100.0;
    constexpr double kToleranceS = 0.1;
    // From the first sound to the last: all five segments' time.
    EXPECT_NEAR(static_cast<double>(last - first) / rate, 5 * kSegmentS, kToleranceS);
    size_t gap_at = 0;
    const size_t gap = LongestSilence(c, first, last, kSilentSteps, &gap_at);
    EXPECT_NEAR(static_cast<double>(gap) / rate, kSegmentS, kToleranceS);
    EXPECT_NEAR(static_cast<double>(gap_at - first) / rate, 2 * kSegmentS, kToleranceS);
    // The tone before and after.
    for (size_t from : {first + static_cast<size_t>(rate) / 2, gap_at + gap + static_cast<size_t>(rate) / 2}) {
        const std::vector<float> tone = c.Channel(0, from, static_cast<size_t>(rate) / 2);
        EXPECT_NEAR(DominantFrequency(tone, rate, 100, 2000), kToneHz, 3.0) << "at frame " << from;
    }
}

}  // namespace
