// A real Icecast server, used the way the player uses the engine; and the
// default output device captured through ALSA's file plugin.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

// Opens a stream and buffers like the player: polls until more than 99 % of
// the END position is buffered.
HSTREAM OpenLikeThePlayer(const std::string& url) {
    HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, CountStatus, nullptr);
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
    HSTREAM h = OpenLikeThePlayer(IcecastUrl("/tone.mp3"));
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
    // The harness names a new title every few seconds; ezstream puts in the
    // file's name each time it loops the file, which is a change as well.
    std::string next;
    EXPECT_TRUE(WaitFor([&] {
        next = log.Last();
        return next != first && next.rfind("StreamTitle='Tone ", 0) == 0;
    })) << next;
    EXPECT_TRUE(BASS_StreamFree(h));
}

TEST_F(Icecast, OggMountChangesItsCommentsWithEachChainedStream) {
    HSTREAM h = OpenLikeThePlayer(IcecastUrl("/tone.ogg"));
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

// The Opus mount's parts: 440 Hz "Opus One" and 660 Hz "Opus Two", 3 s
// each (tools/radio/media.py). A change is heard when its tone is: at once
// after its sync, far sooner than the next part could come.
constexpr double kOpusOneHz = 440.0;
constexpr double kOpusTwoHz = 660.0;
constexpr double kFftBinHz = 44100.0 / 2048.0;
constexpr DWORD kHeardWithinMs = 1500;

bool HearsTone(HSTREAM h, double hz, DWORD within = kPatienceMs) {
    return WaitFor([&] { return std::fabs(PlayingFrequency(h) - hz) <= kFftBinHz; }, within);
}

TEST_F(Icecast, OpusMountPlaysItsTonesAndEachTitleWhenItsPartIsHeard) {
    HSTREAM h = OpenLikeThePlayer(IcecastUrl("/tone.opus"));
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    float freq = 0;
    ASSERT_TRUE(BASS_ChannelGetAttribute(h, BASS_ATTRIB_FREQ, &freq));
    EXPECT_EQ(freq, 48000.0f) << "Opus decodes at 48 kHz";
    const char* comments = BASS_ChannelGetTags(h, BASS_TAG_OGG);
    EXPECT_TRUE(TagListHas(comments, "title=Opus ")) << (comments ? comments : "no OGG tags");
    EXPECT_TRUE(TagListHas(comments, "artist=Test Artist"));
    SyncLog log;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_OGG_CHANGE, 0, RecordOgg, &log), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    for (int change = 1; change <= 2; ++change) {
        SCOPED_TRACE(change);
        ASSERT_TRUE(WaitFor([&] { return log.count.load() >= change; }));
        const std::string title = log.Last();
        const bool two = title.find("title=Opus Two") != std::string::npos;
        EXPECT_TRUE(two || title.find("title=Opus One") != std::string::npos) << title;
        EXPECT_TRUE(HearsTone(h, two ? kOpusTwoHz : kOpusOneHz, kHeardWithinMs)) << title;
    }
    EXPECT_TRUE(BASS_StreamFree(h));
}

// Ogg Opus from the radio server: labelled as stations label it, or not at
// all; a head we cannot read; 5.1.
class OpusStation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.ok()); }
    SilentEngine engine_;
};

TEST_F(OpusStation, PlaysWhateverItIsLabelledAndRefusesAHeadItCannotRead) {
    for (const char* type : {"audio/ogg; codecs=opus", "audio/opus", "application/octet-stream"}) {
        SCOPED_TRACE(type);
        HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.opus?fast=1&type=" + QueryValue(type)).c_str(), 0, 0,
                                         nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        EXPECT_TRUE(TagListHas(BASS_ChannelGetTags(h, BASS_TAG_OGG), "title=Opus One"));
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        EXPECT_TRUE(HearsTone(h, kOpusOneHz));
        EXPECT_TRUE(BASS_StreamFree(h));
    }
    EXPECT_EQ(BASS_StreamCreateURL(RadioUrl("/stream.opus?fast=1&bad_header=1").c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(OpusStation, SurroundIsMixedDownEachToneToItsSide) {
    // 660 Hz in front right, 440 Hz in rear left.
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.opus?fast=1&channels=6").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_PAN, -1.0f));
    EXPECT_TRUE(HearsTone(h, kOpusOneHz)) << "left";
    ASSERT_TRUE(BASS_ChannelSetAttribute(h, BASS_ATTRIB_PAN, 1.0f));
    EXPECT_TRUE(HearsTone(h, kOpusTwoHz)) << "right";
    EXPECT_TRUE(BASS_StreamFree(h));
}

// The tone's peak: a sine at half scale.
constexpr int kTonePeak = 16384;
constexpr int kPeakTolerance = 1600;

// Waits until the capture holds `frames` more than `start`; the sink writes
// its file a few times a second.
bool CaptureGrows(size_t start, size_t frames, Capture* out) {
    return WaitFor([&] {
        *out = Capture();
        return ReadCapture(out) && out->frames() >= start + frames;
    });
}

// Both channels of one second from `from` hold the tone at its level: the
// peak of a sine of the second's RMS. (Not its highest sample: where a
// reconnect splices the station's stream afresh onto the old one the decoder
// overlaps two phases of the tone for a moment, up to 1.4 times as high; a
// gap in the sound is what ExpectNoDropout looks for.)
void ExpectTone(const Capture& c, size_t from) {
    const int rate = c.RateAt(from);
    for (int ch = 0; ch < 2 && ch < c.channels; ++ch) {
        SCOPED_TRACE(ch == 0 ? "left" : "right");
        const std::vector<float> second = c.Channel(ch, from, static_cast<size_t>(rate));
        EXPECT_NEAR(DominantFrequency(second, rate, 100, 2000), kToneHz, kToneToleranceHz);
        double power = 0;
        for (float x : second) power += static_cast<double>(x) * x;
        const double peak = std::sqrt(2 * power / static_cast<double>(second.size())) * 32768;
        EXPECT_NEAR(peak, kTonePeak, kPeakTolerance);
    }
}

// The first frame from `from` on where the left channel is at half the
// tone's peak or more.
size_t FirstSound(const Capture& c, size_t from) {
    while (from < c.frames() && std::abs(static_cast<int>(c.samples[from * c.channels])) < kTonePeak / 2)
        ++from;
    return from;
}

// What should sound from `from` to `to` has no dropout.
void ExpectNoDropout(const Capture& c, size_t from, size_t to) {
    size_t at = 0;
    const size_t silence = LongestSilence(c, from, to, kSilentSteps, &at);
    EXPECT_LT(silence * 1000, static_cast<size_t>(c.RateAt(from)) * kDropoutMs)
        << silence << " frames of digital silence from frame " << at << " (sound from " << from
        << " to " << to << ")";
}

// The loudest second of the left channel from `from` on.
size_t LoudestSecond(const Capture& c, size_t from) {
    size_t best = from;
    double best_energy = -1;
    const size_t second = static_cast<size_t>(c.RateAt(from));
    for (size_t at = from; at + second <= c.frames(); at += second / 4) {
        double e = 0;
        for (size_t i = 0; i < second; i += 8) e += std::abs(c.samples[(at + i) * c.channels]);
        if (e > best_energy) {
            best_energy = e;
            best = at;
        }
    }
    return best;
}

TEST(EngineCapture, DefaultDevicePlaysTheStationsTone) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    ASSERT_TRUE(HaveIcecast());
    ASSERT_TRUE(HaveTls()) << "run through with_servers.sh --https";
    // MP3 and AAC from Icecast, and MP3 over TLS (the test root is trusted
    // for the run: test_https.cpp).
    const std::string urls[] = {IcecastUrl("/tone.mp3"), IcecastUrl("/tone.aac"),
                                TlsUrl("GOOD", "/stream.mp3")};
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        const size_t start = CapturedFrames();
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
        BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
        HSTREAM h = OpenLikeThePlayer(url);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
        // Three seconds heard, whatever the stream's bit rate.
        ASSERT_TRUE(WaitFor([&] { return CapturedFrames() > start + 3 * 44100; }));
        EXPECT_TRUE(BASS_StreamFree(h));
        EXPECT_TRUE(BASS_Free());

        Capture c;
        ASSERT_TRUE(CaptureGrows(start, 2 * 44100, &c)) << "less than two seconds were captured";
        ExpectTone(c, LoudestSecond(c, start));
        // From its first sound to the free, which came three seconds in.
        ExpectNoDropout(c, FirstSound(c, start), start + 3 * 44100);
    }
}

constexpr size_t kLongestGap = 44100 / 20;  // 50 ms: a gap a listener notices

// The engine on the captured default device, and a station on it opened
// and played as the player does; its END syncs counted, its META syncs to
// `meta` when given.
void PlayOnTheDevice(const std::string& url, std::atomic<int>* ends, SYNCPROC* meta, void* meta_user,
                     HSTREAM* out) {
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const HSTREAM h = OpenLikeThePlayer(url);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    *out = h;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountSync, ends), 0u);
    if (meta) {
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_META, 0, meta, meta_user), 0u);
    }
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
}

// Plays on until the capture holds more than `until` frames (the station
// never ending meanwhile), frees the stream and the engine, and reads what
// was heard.
void HearUntil(HSTREAM h, const std::atomic<int>& ends, size_t until, Capture* c) {
    ASSERT_TRUE(WaitFor([&] { return CapturedFrames() > until; }));
    EXPECT_EQ(ends.load(), 0);
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_Free());
    ASSERT_TRUE(ReadCapture(c));
}

// Sound from its first frame after `start` (*first) to `end`, at least
// `frames` long, with no gap a listener would notice.
void ExpectSoundWithoutGaps(const Capture& c, size_t start, size_t end, size_t frames, size_t* first) {
    *first = FirstSound(c, start);
    ASSERT_LT(*first + frames, std::min(end, c.frames())) << "less sound than " << frames << " frames";
    constexpr int kQuiet = 1000;  // a sample this close to 0 is no tone
    EXPECT_LT(LongestSilence(c, *first, end, kQuiet), kLongestGap);
    ExpectNoDropout(c, *first, end);
}

TEST(EngineCapture, ConnectionsDroppedEveryFewSecondsDoNotStopTheSound) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    const size_t start = CapturedFrames();
    // Each connection: one second at once, then two at the pace of the audio.
    const std::string id = "capture-drops";
    std::atomic<int> ends{0};
    HSTREAM h = 0;
    ASSERT_NO_FATAL_FAILURE(
        PlayOnTheDevice(RadioUrl("/stream.mp3?burst=16000&close=48000&id=" + id), &ends, nullptr, nullptr, &h));
    const size_t played_at = CapturedFrames();
    constexpr int kDrops = 4;
    ASSERT_TRUE(WaitFor([&] { return RadioCount("id=" + id) > kDrops; }));
    // Some of the drops can come while the player still buffers: seven
    // seconds heard from the play at least, whenever the drops were.
    constexpr size_t kHeardFrames = 7 * 44100;
    const size_t after_drops = std::max(CapturedFrames(), played_at + kHeardFrames);
    Capture c;
    ASSERT_NO_FATAL_FAILURE(HearUntil(h, ends, after_drops + 44100, &c));
    // From the first sound to what was heard after the last drop: the tone,
    // with no dropout and not even a quiet gap a listener would notice.
    const size_t end = after_drops + 44100 / 2;
    size_t first = 0;
    ASSERT_NO_FATAL_FAILURE(ExpectSoundWithoutGaps(c, start, end, 6 * 44100, &first));
    for (size_t at = first; at + 44100 <= end; at += 44100) {
        SCOPED_TRACE(at);
        ExpectTone(c, at);
    }
}

// The stepped mount behind the cutting relay (icecast_harness.py,
// cut_relay.py): step i of kSteps is a sine of kStepBaseHz + i * kStepHz for
// half a second, round and round; the title "Step i" comes a quarter into
// every kTitleEverySteps-th step.
constexpr int kSteps = 64;
constexpr double kStepBaseHz = 300.0;
constexpr double kStepHz = 40.0;
constexpr double kStepSeconds = 0.5;
constexpr int kTitleEverySteps = 4;
constexpr double kPi = 3.14159265358979323846;

std::string RelayUrl(const std::string& path) {
    const char* port = std::getenv("ORVANTIS_RELAY_PORT");
    return port ? "http://127.0.0.1:" + std::string(port) + path : "";
}

// The step whose pitch is nearest `hz`; -1 when none is near.
int StepOf(double hz) {
    const double i = std::round((hz - kStepBaseHz) / kStepHz);
    if (i < 0 || i >= kSteps || std::fabs(kStepBaseHz + i * kStepHz - hz) > kStepHz / 2) return -1;
    return static_cast<int>(i);
}

// The step heard in each window of the left channel from `from` to `to`: the
// one whose pitch holds most of the window's power, by far; -1 where none
// does (a change of step inside the window, silence).
constexpr size_t kStepWindow = 2048;
constexpr size_t kStepHop = 1024;
std::vector<int> StepsHeard(const Capture& c, size_t from, size_t to, int rate) {
    constexpr double kDominance = 4.0;  // over the next strongest step
    constexpr double kQuietPower = 1000.0 * 1000.0;  // mean square of dither and less
    std::vector<double> hann(kStepWindow), x(kStepWindow);
    for (size_t i = 0; i < kStepWindow; ++i) hann[i] = 0.5 - 0.5 * std::cos(2 * kPi * i / kStepWindow);
    std::vector<int> out;
    for (size_t at = from; at + kStepWindow <= to && at + kStepWindow <= c.frames(); at += kStepHop) {
        double mean_square = 0;
        for (size_t i = 0; i < kStepWindow; ++i) {
            const double v = c.samples[(at + i) * c.channels];
            mean_square += v * v / kStepWindow;
            x[i] = v * hann[i];
        }
        double best = 0, second = 0;
        int best_step = -1;
        for (int step = 0; step < kSteps; ++step) {
            // Goertzel: the power at this step's pitch alone.
            const double w = 2 * kPi * (kStepBaseHz + step * kStepHz) / rate;
            const double k = 2 * std::cos(w);
            double s1 = 0, s2 = 0;
            for (double v : x) {
                const double s0 = v + k * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
            if (power > best) {
                second = best;
                best = power;
                best_step = step;
            } else if (power > second) {
                second = power;
            }
        }
        out.push_back(mean_square > kQuietPower && best > kDominance * second ? best_step : -1);
    }
    return out;
}

struct StepRun {
    int step;
    size_t first_window;
    size_t windows;  // that clearly held it
};

// Windows of the same step as one run, unclear windows skipped.
std::vector<StepRun> StepRuns(const std::vector<int>& heard) {
    std::vector<StepRun> runs;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] < 0) continue;
        if (!runs.empty() && runs.back().step == heard[i])
            ++runs.back().windows;
        else
            runs.push_back({heard[i], i, 1});
    }
    return runs;
}

// Each title with the step heard when its META sync fired.
struct TitleLog {
    std::mutex mutex;
    std::vector<std::pair<std::string, int>> heard;
};

void CALLBACK RecordTitleAndStep(HSYNC, DWORD channel, DWORD, void* user) {
    auto* log = static_cast<TitleLog*>(user);
    const char* meta = BASS_ChannelGetTags(channel, BASS_TAG_META);
    const int step = StepOf(PlayingFrequency(channel));
    std::lock_guard<std::mutex> lock(log->mutex);
    log->heard.emplace_back(meta ? meta : "", step);
}

// The step a "StreamTitle='Step i';" names; -1 for any other text.
int TitleStep(const std::string& meta) {
    int step = -1;
    char end = 0;
    if (std::sscanf(meta.c_str(), "StreamTitle='Step %d%c", &step, &end) != 2 || end != '\'') return -1;
    return step;
}

TEST(EngineCapture, ConnectionsCutEveryFewSecondsNeitherRepeatNorSkipTheStation) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    ASSERT_FALSE(RelayUrl("/").empty()) << "run through with_servers.sh --icecast --relay";
    const size_t start = CapturedFrames();
    // Every connection is cut 3 s after it began; Icecast answers each new
    // one with its last 64 KiB (4 s), most of which came before.
    const std::string id = "steps-cut";
    std::atomic<int> ends{0};
    TitleLog titles;
    HSTREAM h = 0;
    ASSERT_NO_FATAL_FAILURE(PlayOnTheDevice(RelayUrl("/steps.mp3?cut_ms=3000&id=" + id), &ends,
                                            RecordTitleAndStep, &titles, &h));
    constexpr int kCuts = 5;
    ASSERT_TRUE(WaitFor([&] { return RadioCount("RELAY cut " + id) >= kCuts; }));
    // What came after the last cut is heard once the buffer before it played.
    constexpr size_t kAfterLastCut = 6 * 44100;
    const size_t end = CapturedFrames() + kAfterLastCut;
    Capture c;
    ASSERT_NO_FATAL_FAILURE(HearUntil(h, ends, end, &c));
    size_t first = 0;
    ASSERT_NO_FATAL_FAILURE(ExpectSoundWithoutGaps(c, start, end, 15 * 44100, &first));
    // Every step once, in order, each for its half second (the first and
    // the last were cut by the start and the end).
    const int rate = c.RateAt(first);
    const std::vector<StepRun> runs = StepRuns(StepsHeard(c, first, end, rate));
    ASSERT_GE(runs.size(), 30u);
    const double hop_s = static_cast<double>(kStepHop) / rate;
    constexpr double kStepToleranceS = 0.1;
    for (size_t i = 1; i < runs.size(); ++i) {
        const double at_s = static_cast<double>(runs[i].first_window) * hop_s;
        EXPECT_EQ(runs[i].step, (runs[i - 1].step + 1) % kSteps)
            << "after step " << runs[i - 1].step << ", " << at_s << " s into the sound";
        if (i + 1 < runs.size()) {
            // Windows across a change of step are unclear: about one a side.
            const double heard_s = static_cast<double>(runs[i].windows + 1) * hop_s;
            EXPECT_NEAR(heard_s, kStepSeconds, kStepToleranceS)
                << "step " << runs[i].step << ", " << at_s << " s into the sound";
        }
    }
    // Every title once, in order, while its step is heard.
    std::lock_guard<std::mutex> lock(titles.mutex);
    ASSERT_GE(titles.heard.size(), 6u);
    for (size_t i = 0; i < titles.heard.size(); ++i) {
        const int step = TitleStep(titles.heard[i].first);
        SCOPED_TRACE(titles.heard[i].first);
        EXPECT_EQ(titles.heard[i].second, step);
        if (i > 0) {
            EXPECT_EQ(step, (TitleStep(titles.heard[i - 1].first) + kTitleEverySteps) % kSteps);
        }
    }
}

TEST(EngineCapture, SoundComesBackAfterTheDeviceHangs) {
    const std::string pause = UnixPathFromEnv("ORVANTIS_CAPTURE_PAUSE");
    ASSERT_FALSE(pause.empty()) << "run through with_servers.sh --paced-capture";
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    // Paced at its bit rate after the burst: it plays as long as we like.
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.mp3?id=hang").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    Capture c;
    ASSERT_TRUE(CaptureGrows(CapturedFrames(), 44100, &c));

    // The card stops taking sound: the engine's writes fail while it hangs;
    // the stream goes on on the engine's own clock meanwhile.
    HANDLE f = CreateFileA(pause.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    const QWORD before = BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT);
    ASSERT_TRUE(WaitFor([&] {
        return BASS_StreamGetFilePosition(h, BASS_FILEPOS_CURRENT) > before + kThreeSecondsOfMp3 / 2;
    }));
    const size_t hung_at = CapturedFrames();
    ASSERT_TRUE(DeleteFileA(pause.c_str()));

    // Back: the device is opened again and the tone is heard once more.
    const bool heard = CaptureGrows(hung_at, 3 * 44100, &c);
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_Free());
    ASSERT_TRUE(heard) << "nothing was heard after the hang";
    ExpectTone(c, hung_at + 3 * 44100 / 2);
    // From the sound of the device opened again, whose start is not sound yet.
    const size_t reopened = c.SegmentFrom(hung_at);
    ExpectNoDropout(c, FirstSound(c, reopened < c.frames() ? reopened : hung_at), hung_at + 3 * 44100);
}

}  // namespace
