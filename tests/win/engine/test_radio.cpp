// Streams from the misbehaving test radio server, played on the silent device.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr DWORD kMp3ByteRate = 128000 / 8;
constexpr QWORD kPrebufferBytes = kMp3ByteRate * 3 / 2;
constexpr int kDeviceRate = 44100;
constexpr double kToneHz = 440.0;

class RadioStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.ok()); }
    void TearDown() override {
        if (stream_) BASS_StreamFree(stream_);
    }

    HSTREAM Open(const std::string& path, DWORD flags = 0) {
        stream_ = BASS_StreamCreateURL(RadioUrl(path).c_str(), 0, flags, nullptr, nullptr);
        return stream_;
    }
    QWORD Pos(DWORD mode) { return BASS_StreamGetFilePosition(stream_, mode); }
    DWORD Level() { return BASS_ChannelGetLevel(stream_); }
    bool Audible() {
        DWORD l = Level();
        return l != static_cast<DWORD>(-1) && LOWORD(l) > 0 && HIWORD(l) > 0;
    }
    // Bin with the largest FFT magnitude (DC left out), and that magnitude.
    int PeakBin(float* magnitude) {
        float fft[1024] = {};
        if (BASS_ChannelGetData(stream_, fft, BASS_DATA_FFT2048) == static_cast<DWORD>(-1)) return -1;
        int best = 1;
        for (int i = 2; i < 1024; ++i) {
            if (fft[i] > fft[best]) best = i;
        }
        *magnitude = fft[best];
        return best;
    }

    SilentEngine engine_;
    HSTREAM stream_ = 0;
};

// The bins a 440 Hz tone falls between at 44.1 kHz.
bool IsToneBin(int bin) {
    double centre = kToneHz * 2048 / kDeviceRate;
    return std::fabs(bin - centre) <= 1.0;
}

std::vector<std::string> g_status;
void CALLBACK CollectStatus(const void* buffer, DWORD length, void*) {
    if (buffer && length == 0) g_status.emplace_back(static_cast<const char*>(buffer));
}

TEST_F(RadioStream, ResponseHeadsOfEveryDialectBecomeTags) {
    struct Case {
        const char* query;
        DWORD tag;  // where the header lines land
    } cases[] = {
        {"", BASS_TAG_HTTP},
        {"icy=1", BASS_TAG_ICY},
        {"icy=1&lf=1", BASS_TAG_ICY},
        {"lf=1", BASS_TAG_HTTP},
        {"chunked=1", BASS_TAG_HTTP},
        {"metaint=1", BASS_TAG_HTTP},
        // A line of blanks only does not cut the list short.
        {"blank_header=1", BASS_TAG_HTTP},
        {"icy=1&lf=1&blank_header=1", BASS_TAG_ICY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        g_status.clear();
        // Each case's own request, told apart by its id.
        const std::string id = std::string("id=dialect-") + std::to_string(&c - cases);
        std::string url = RadioUrl(std::string("/stream.mp3?fast=1&") + id + "&" + c.query);
        stream_ = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_STATUS, CollectStatus, nullptr);
        ASSERT_NE(stream_, 0u) << BASS_ErrorGetCode();
        const char* tags = BASS_ChannelGetTags(stream_, c.tag);
        EXPECT_TRUE(TagListHas(tags, "icy-name: Orvantis Test Radio"));
        EXPECT_TRUE(TagListHas(tags, "icy-br: 128"));
        DWORD other = c.tag == BASS_TAG_ICY ? BASS_TAG_HTTP : BASS_TAG_ICY;
        EXPECT_EQ(BASS_ChannelGetTags(stream_, other), nullptr);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
        // The request asked for metadata and named us.
        const std::string request = RadioRequest(id + "&");
        EXPECT_NE(request.find("\nIcy-MetaData: 1\n"), std::string::npos) << request;
        EXPECT_NE(request.find("\nUser-Agent: Orvantis-Engine/"), std::string::npos) << request;
        // Every header line went to the status callback while connecting.
        bool seen = false;
        for (const auto& s : g_status) seen |= s == "icy-name: Orvantis Test Radio";
        EXPECT_TRUE(seen);
        EXPECT_TRUE(BASS_StreamFree(stream_));
        stream_ = 0;
    }
}

TEST_F(RadioStream, FailuresGiveTheirErrorCodes) {
    // A port nobody listens on: bind one, then let it go.
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    WSACleanup();
    const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";

    struct Case {
        std::string url;
        int error;
    } cases[] = {
        {RadioUrl("/missing"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/broken"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/loop"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/hop?n=9"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/ftp"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/self.pls"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/noise"), BASS_ERROR_FILEFORM},
        {RadioUrl("/stream.mp3?close=300"), BASS_ERROR_FILEFORM},
        {RadioUrl("/stream.mp3?blank_lines=10000"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/stream.ogg?bad_header=1"), BASS_ERROR_FILEFORM},
        // A leading tag beyond what a create reads before the audio (16 MiB).
        {RadioUrl("/stream.mp3?fast=1&id3=16777227"), BASS_ERROR_FILEFORM},
        // https addresses are followed: nobody listens on port 1.
        {RadioUrl("/https.pls"), BASS_ERROR_FILEOPEN},
        {RadioUrl("/tohttps"), BASS_ERROR_FILEOPEN},
        {closed, BASS_ERROR_FILEOPEN},
        {"not a url", BASS_ERROR_FILEOPEN},
        {"https://127.0.0.1:1/", BASS_ERROR_FILEOPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(BASS_StreamCreateURL(c.url.c_str(), 0, 0, nullptr, nullptr), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
    }
}

TEST_F(RadioStream, RedirectsAndPlaylistsLeadToTheStream) {
    // late.pls: text/plain, and only "[pla" comes with the head.
    for (const char* path : {"/hop?n=8", "/list.pls", "/list.m3u", "/nested.pls", "/late.pls"}) {
        SCOPED_TRACE(path);
        ASSERT_NE(Open(path), 0u) << BASS_ErrorGetCode();
        EXPECT_TRUE(TagListHas(BASS_ChannelGetTags(stream_, BASS_TAG_HTTP), "icy-name:"));
        EXPECT_TRUE(BASS_StreamFree(stream_));
        stream_ = 0;
    }
    // Without playlist support a playlist is just text.
    ASSERT_TRUE(BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0));
    EXPECT_EQ(Open("/list.pls"), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(RadioStream, FilePositionsFollowTheBuffer) {
    ASSERT_NE(Open("/stream.mp3"), 0u);
    // The player waits for this much before it starts.
    EXPECT_EQ(Pos(BASS_FILEPOS_END), kPrebufferBytes);
    ASSERT_TRUE(WaitFor([&] { return Pos(BASS_FILEPOS_DOWNLOAD) - Pos(BASS_FILEPOS_CURRENT) >= kPrebufferBytes; }));
    EXPECT_LE(Pos(BASS_FILEPOS_CURRENT), Pos(BASS_FILEPOS_DOWNLOAD));
    EXPECT_EQ(BASS_StreamGetFilePosition(stream_, 77), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);

    // Nothing is consumed before playing; then the decoder takes bytes.
    const QWORD before = Pos(BASS_FILEPOS_CURRENT);
    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    EXPECT_TRUE(WaitFor([&] { return Pos(BASS_FILEPOS_CURRENT) > before + kMp3ByteRate; }));
    EXPECT_LE(Pos(BASS_FILEPOS_CURRENT), Pos(BASS_FILEPOS_DOWNLOAD));
}

TEST_F(RadioStream, PlaysTheToneWithLevelsAndSpectrum) {
    ASSERT_NE(Open("/stream.mp3?fast=1"), 0u);
    float fft[1024];
    EXPECT_EQ(BASS_ChannelGetLevel(stream_), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    EXPECT_EQ(BASS_ChannelGetData(stream_, fft, BASS_DATA_FFT2048), static_cast<DWORD>(-1));

    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    ASSERT_TRUE(WaitFor([&] { return Audible(); }));
    // Wait for a full FFT window of the tone, then look at it.
    float magnitude = 0;
    EXPECT_TRUE(WaitFor([&] { return IsToneBin(PeakBin(&magnitude)) && magnitude > 0.2f; }))
        << "peak bin " << PeakBin(&magnitude) << " magnitude " << magnitude;
    DWORD level = Level();
    // A half-scale sine: peaks near 16384 on both sides.
    EXPECT_NEAR(LOWORD(level), 16384, 2500);
    EXPECT_NEAR(HIWORD(level), 16384, 2500);
}

TEST_F(RadioStream, VolumePanAndFrequencyAttributes) {
    // A stream's own rate is known once the create returns (AAC: test_aac.cpp),
    // also when only the headers came before the server's pace.
    float value = -1;
    ASSERT_NE(Open("/stream.ogg?rate=48000&burst=4200"), 0u);
    ASSERT_TRUE(BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &value));
    EXPECT_EQ(value, 48000.0f);
    BASS_StreamFree(stream_);
    ASSERT_NE(Open("/stream.mp3?fast=1"), 0u);
    ASSERT_TRUE(BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &value));
    EXPECT_EQ(value, 44100.0f);
    EXPECT_FALSE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_FREQ, 50.0f));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_ChannelSetAttribute(stream_, 99, 1.0f));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
    EXPECT_FALSE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_VOL, NAN));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);

    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    ASSERT_TRUE(WaitFor([&] { return Audible(); }));

    // Hard left: the right side falls silent, the left keeps its level.
    ASSERT_TRUE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_PAN, -1.0f));
    EXPECT_TRUE(WaitFor([&] { DWORD l = Level(); return HIWORD(l) == 0 && LOWORD(l) > 10000; }));
    ASSERT_TRUE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_PAN, 0.0f));

    // A slide passes through the values between, and ends on its target.
    ASSERT_TRUE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_VOL, 0.0f));
    EXPECT_TRUE(WaitFor([&] { return Level() == 0; }));
    ASSERT_TRUE(BASS_ChannelSlideAttribute(stream_, BASS_ATTRIB_VOL, 1.0f, 1000));
    bool between = false;
    EXPECT_TRUE(WaitFor([&] {
        BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_VOL, &value);
        between |= value > 0.05f && value < 0.95f;
        return value == 1.0f;
    }));
    EXPECT_TRUE(between);

    // Setting a value ends a running slide.
    ASSERT_TRUE(BASS_ChannelSlideAttribute(stream_, BASS_ATTRIB_VOL, 0.0f, 60000));
    ASSERT_TRUE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_VOL, 0.3f));
    const QWORD at = Pos(BASS_FILEPOS_CURRENT);
    ASSERT_TRUE(WaitFor([&] { return Pos(BASS_FILEPOS_CURRENT) > at + kMp3ByteRate / 2; }));
    ASSERT_TRUE(BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_VOL, &value));
    EXPECT_EQ(value, 0.3f);

    // The pitch glide the player uses on unlock: down to 100 Hz and back.
    ASSERT_TRUE(BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_FREQ, 100.0f));
    ASSERT_TRUE(BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &value));
    EXPECT_EQ(value, 100.0f);
    ASSERT_TRUE(BASS_ChannelSlideAttribute(stream_, BASS_ATTRIB_FREQ, 44100.0f, 300));
    EXPECT_TRUE(WaitFor([&] {
        BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &value);
        return value == 44100.0f;
    }));
}

TEST_F(RadioStream, BrokenStartsAndMetadataEveryByteStillPlayTheTone) {
    for (const char* query : {"garbage=3000&skip=417", "metaint=1&title_every=5000", "chunked=1&skip=1000",
                              "id3=65536", "id3=65536&metaint=1000",
                              // Cover art makes tags of megabytes.
                              "id3=3000000", "id3=1000000&metaint=1000"}) {
        SCOPED_TRACE(query);
        ASSERT_NE(Open(std::string("/stream.mp3?fast=1&") + query), 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
        float magnitude = 0;
        EXPECT_TRUE(WaitFor([&] { return IsToneBin(PeakBin(&magnitude)) && magnitude > 0.2f; }));
        EXPECT_TRUE(BASS_StreamFree(stream_));
        stream_ = 0;
    }
}

TEST_F(RadioStream, FormatChangeMidStreamReconfiguresTheDecoder) {
    // After 40001 bytes (mid-frame) the stream goes on at 48 kHz with 880 Hz.
    ASSERT_NE(Open("/stream.mp3?fast=1&switch=40001"), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    // The stream's own rate follows the new frames; then the new tone is heard.
    float freq = 0;
    ASSERT_TRUE(WaitFor([&] {
        return BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &freq) && freq == 48000.0f;
    })) << freq;
    float magnitude = 0;
    EXPECT_TRUE(WaitFor([&] {
        return std::abs(PeakBin(&magnitude) - 880.0 * 2048 / kDeviceRate) <= 1.0 && magnitude > 0.2f;
    }));
}

TEST_F(RadioStream, MetaSyncFiresWhenTheNewTitleIsHeardNotWhenDownloaded) {
    // The second title starts 2 s into the stream and comes with the burst.
    ASSERT_NE(Open("/stream.mp3?metaint=4000&title_every=32000"), 0u);
    ASSERT_TRUE(WaitFor([&] { return Pos(BASS_FILEPOS_DOWNLOAD) > 40000; }));
    SyncLog log;
    ASSERT_NE(BASS_ChannelSetSync(stream_, BASS_SYNC_META, 0, RecordMeta, &log), 0u);
    EXPECT_STREQ(BASS_ChannelGetTags(stream_, BASS_TAG_META), "StreamTitle='Tone 1';");
    EXPECT_EQ(log.count.load(), 0);

    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    ASSERT_TRUE(WaitFor([&] { return log.count.load() >= 1; }));
    EXPECT_EQ(log.Last(), "StreamTitle='Tone 2';");
    // By then about 2 s of audio were heard.
    EXPECT_GE(Pos(BASS_FILEPOS_CURRENT), 32000u);
}

TEST_F(RadioStream, EndFiresOnceWhenTheBodyEnds) {
    // A body that ends by its own length is the end of the stream (one whose
    // connection just closes is made again: test_reconnect.cpp).
    std::atomic<int> ends{0};
    ASSERT_NE(Open("/stream.mp3?fast=1&length=48000"), 0u);
    ASSERT_NE(BASS_ChannelSetSync(stream_, BASS_SYNC_END, 0, CountSync, &ends), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    ASSERT_TRUE(WaitFor([&] { return ends.load() == 1; }));
    // After the end the stream is silent and the end does not come again.
    ASSERT_TRUE(WaitFor([&] { return Level() == 0; }));
    const QWORD consumed = Pos(BASS_FILEPOS_CURRENT);
    EXPECT_EQ(consumed, Pos(BASS_FILEPOS_DOWNLOAD));
    EXPECT_EQ(ends.load(), 1);

    // With AUTOFREE the handle goes away by itself after the end.
    HSTREAM kept = stream_;
    ASSERT_TRUE(BASS_StreamFree(kept));
    stream_ = 0;
    std::atomic<int> auto_ends{0};
    HSTREAM h = Open("/stream.mp3?fast=1&chunked=1&close=20000", BASS_STREAM_AUTOFREE);
    ASSERT_NE(h, 0u);
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, &auto_ends), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_TRUE(WaitFor([&] {
        return BASS_ChannelGetLevel(h) == static_cast<DWORD>(-1) && BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
    }));
    EXPECT_EQ(auto_ends.load(), 1);
    stream_ = 0;
}

TEST_F(RadioStream, OggChainUpdatesTheTagAndFiresWhenHeard) {
    ASSERT_NE(Open("/stream.ogg"), 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(TagListHas(BASS_ChannelGetTags(stream_, BASS_TAG_OGG), "title=Ogg One"));
    SyncLog log;
    ASSERT_NE(BASS_ChannelSetSync(stream_, BASS_SYNC_OGG_CHANGE, 0, RecordOgg, &log), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream_, FALSE));
    ASSERT_TRUE(WaitFor([&] { return log.count.load() >= 1; }));
    EXPECT_NE(log.Last().find("Ogg Two"), std::string::npos) << log.Last();
    float magnitude = 0;
    // The second part is a 660 Hz tone.
    EXPECT_TRUE(WaitFor([&] { return std::abs(PeakBin(&magnitude) - 660.0 * 2048 / kDeviceRate) <= 1.0; }));
}

}  // namespace
