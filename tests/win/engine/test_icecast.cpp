// A real Icecast server, used the way the player uses the engine; and the
// default output device captured through ALSA's file plugin.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

// The player's create flags: status texts, streaming without seeking, auto free.
constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr int kPlayerPollMs = 50;
constexpr QWORD kThreeSecondsOfMp3 = 3 * 128000 / 8;
constexpr double kToneHz = 440.0;
constexpr double kToneToleranceHz = 3.0;

std::atomic<int> g_status_texts{0};
void CALLBACK CountStatus(const void* buffer, DWORD length, void*) {
    if (buffer && length == 0 && *static_cast<const char*>(buffer)) ++g_status_texts;
}

// Opens a mount and buffers like the player: polls until more than 99 % of
// the END position is buffered.
HSTREAM OpenLikeThePlayer(const std::string& mount) {
    HSTREAM h = BASS_StreamCreateURL(IcecastUrl(mount).c_str(), 0, kPlayerFlags, CountStatus, nullptr);
    if (!h) return 0;
    bool full = WaitFor([&] {
        QWORD end = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
        if (end == 0 || end == static_cast<QWORD>(-1)) return false;
        QWORD buffered = BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) -
                         BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT);
        Sleep(kPlayerPollMs);
        return buffered * 100 / end > 99;
    });
    if (!full) {
        BASS_StreamFree(h);
        return 0;
    }
    return h;
}

class Icecast : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HaveIcecast()) << "the runner starts Icecast for these tests";
        ASSERT_TRUE(engine_.ok());
    }
    SilentEngine engine_;
};

TEST_F(Icecast, Mp3MountGivesHeadersTitlesAndTitleChangesWhenHeard) {
    g_status_texts = 0;
    HSTREAM h = OpenLikeThePlayer("/tone.mp3");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_GT(g_status_texts.load(), 3);
    const char* headers = BASS_ChannelGetTags(h, BASS_TAG_ICY);
    if (!headers) headers = BASS_ChannelGetTags(h, BASS_TAG_HTTP);
    EXPECT_TRUE(TagListHas(headers, "icy-name:Orvantis Test Radio"));
    EXPECT_TRUE(TagListHas(headers, "icy-br:128"));
    const char* meta = BASS_ChannelGetTags(h, BASS_TAG_META);
    ASSERT_NE(meta, nullptr);
    const std::string first = meta;
    EXPECT_EQ(first.rfind("StreamTitle='", 0), 0u) << first;

    SyncLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, RecordMeta, &log), 0u);
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.0f));
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(BASS_ChannelSlideAttribute(h, BASS_ATTRIB_VOL, 1.0f, 1000));
    ASSERT_TRUE(WaitFor([&] { return log.count.load() > 0; }));
    const std::string next = log.Last();
    EXPECT_NE(next, first);
    EXPECT_EQ(next.rfind("StreamTitle='Tone ", 0), 0u) << next;
    EXPECT_TRUE(BASS_StreamFree(h));
}

TEST_F(Icecast, OggMountChangesItsCommentsWithEachChainedStream) {
    HSTREAM h = OpenLikeThePlayer("/tone.ogg");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    const char* comments = BASS_ChannelGetTags(h, BASS_TAG_OGG);
    ASSERT_TRUE(TagListHas(comments, "title=Ogg "));
    const std::string first = TagListHas(comments, "title=Ogg One") ? "Ogg One" : "Ogg Two";
    SyncLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_OGG_CHANGE, 0, RecordOgg, &log), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitFor([&] { return log.count.load() > 0; }));
    EXPECT_EQ(log.Last().find(first), std::string::npos) << log.Last();
    EXPECT_NE(log.Last().find("title=Ogg "), std::string::npos) << log.Last();
    EXPECT_TRUE(BASS_StreamFree(h));
}

struct Wav {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};

bool ReadWav(const std::string& path, Wav* out) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() < 12 || memcmp(d.data(), "RIFF", 4) != 0) return false;
    size_t at = 12;
    int bits = 0;
    while (at + 8 <= d.size()) {
        uint32_t size;
        memcpy(&size, &d[at + 4], 4);
        if (memcmp(&d[at], "fmt ", 4) == 0 && at + 24 <= d.size()) {
            uint16_t ch, b;
            uint32_t rate;
            memcpy(&ch, &d[at + 10], 2);
            memcpy(&rate, &d[at + 12], 4);
            memcpy(&b, &d[at + 22], 2);
            out->channels = ch;
            out->rate = static_cast<int>(rate);
            bits = b;
        } else if (memcmp(&d[at], "data", 4) == 0) {
            // The size field is only final after a clean close: read to the end.
            size_t n = (d.size() - at - 8) / 2;
            out->samples.resize(n);
            memcpy(out->samples.data(), &d[at + 8], n * 2);
            return bits == 16 && out->channels > 0 && out->rate > 0;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

TEST(EngineCapture, DefaultDevicePlaysTheStationsTone) {
    const std::string capture = UnixPathFromEnv("ORVANTIS_CAPTURE");
    ASSERT_FALSE(capture.empty()) << "run through with_servers.sh --capture";
    ASSERT_TRUE(HaveIcecast());
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    HSTREAM h = OpenLikeThePlayer("/tone.mp3");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    const QWORD start = BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitFor([&] {
        return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT) > start + kThreeSecondsOfMp3;
    }));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_Free());

    Wav wav;
    ASSERT_TRUE(ReadWav(capture, &wav)) << capture;
    const size_t frames = wav.samples.size() / wav.channels;
    ASSERT_GT(frames, static_cast<size_t>(wav.rate)) << "less than a second was captured";
    // The loudest second of the left channel.
    size_t best = 0;
    double best_energy = -1;
    const size_t second = static_cast<size_t>(wav.rate);
    for (size_t at = 0; at + second <= frames; at += second / 4) {
        double e = 0;
        for (size_t i = 0; i < second; i += 8) e += std::abs(wav.samples[(at + i) * wav.channels]);
        if (e > best_energy) {
            best_energy = e;
            best = at;
        }
    }
    std::vector<float> mono(second);
    for (size_t i = 0; i < second; ++i) mono[i] = wav.samples[(best + i) * wav.channels] / 32768.0f;
    EXPECT_GT(best_energy, 0);
    EXPECT_NEAR(DominantFrequency(mono, wav.rate, 100, 2000), kToneHz, kToneToleranceHz);
}

}  // namespace
