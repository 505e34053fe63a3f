// The default output device when its system misbehaves: a change of default
// device while nothing plays, a close that never returns, a device that
// stops playing. The faults come from the device's test hook
// (engine/output/output_faults_win.h), set before BASS_Init; the sound is
// captured through the paced sink (with_servers.sh --paced-capture).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

#include "engine_test_support.h"

namespace {

using namespace enginetest;

constexpr char kFaultsVariable[] = "ORVANTIS_OUTPUT_FAULTS";
constexpr DWORD kCpuWindowMs = 2000;
constexpr double kIdleCpuLimitMs = 50;
// Far beyond a working free or init, far below "never".
constexpr DWORD kAtOnceMs = 2000;
constexpr double kBackWithinS = 1.0;
constexpr int kMixRate = 44100;
constexpr double kToneHz = 440.0;
constexpr int kTonePeak = 16384;  // the radio's sine at half scale
constexpr int kLoud = kTonePeak / 2;
constexpr uint64_t kFileTimePerMs = 10000;

// The device's faults for each BASS_Init while it lives; a close that the
// faults block returns once the variable changes (at the latest when it goes).
class Faults {
public:
    explicit Faults(const char* list) { SetEnvironmentVariableA(kFaultsVariable, list); }
    ~Faults() { SetEnvironmentVariableA(kFaultsVariable, nullptr); }
};

double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / kFileTimePerMs;
}

DWORD WINAPI InitDefault(void*) { return BASS_Init(-1, kMixRate, 0, nullptr, nullptr); }
DWORD WINAPI FreeEngine(void*) { return BASS_Free(); }

// Runs the call on a thread of its own: true when it returned TRUE within
// `limit`. A call that hangs is left hanging, so the test can say so.
bool ReturnsTrueWithin(LPTHREAD_START_ROUTINE call, DWORD limit) {
    HANDLE thread = CreateThread(nullptr, 0, call, nullptr, 0, nullptr);
    if (!thread) return false;
    DWORD result = 0;
    const bool returned = WaitForSingleObject(thread, limit) == WAIT_OBJECT_0 &&
                          GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return returned && result == TRUE;
}

// Starts the radio's 440 Hz tone playing on the initialised engine.
HSTREAM PlayTone(const char* id) {
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const std::string url = RadioUrl(std::string("/stream.mp3?id=") + id);
    HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
    if (h && !BASS_ChannelPlay(h, FALSE)) {
        BASS_StreamFree(h);
        return 0;
    }
    return h;
}

// The first frame in [from, to) loud in the left channel; `to` if none.
size_t FirstLoud(const Capture& c, size_t from, size_t to) {
    for (size_t i = from; i < to && i < c.frames(); ++i) {
        if (std::abs(static_cast<int>(c.samples[i * c.channels])) >= kLoud) return i;
    }
    return to;
}

// The last frame in [from, to) loud in the left channel; `to` if none.
size_t LastLoud(const Capture& c, size_t from, size_t to) {
    for (size_t i = std::min(to, c.frames()); i > from; --i) {
        if (std::abs(static_cast<int>(c.samples[(i - 1) * c.channels])) >= kLoud) return i - 1;
    }
    return to;
}

// When the sink heard a frame (seconds of its monotonic clock), from the
// times it noted after a gap and the rates of the stretches in between.
class HeardTimes {
public:
    bool Read() {
        std::ifstream f(UnixPathFromEnv("ORVANTIS_CAPTURE") + ".times");
        size_t frame = 0;
        double seconds = 0;
        while (f >> frame >> seconds) marks_.emplace_back(frame, seconds);
        return !marks_.empty();
    }
    double At(const Capture& c, size_t frame) const {
        size_t f = 0;
        double t = 0;
        for (const auto& m : marks_) {
            if (m.first > frame) break;
            f = m.first;
            t = m.second;
        }
        while (f < frame) {  // across the openings in between, each at its rate
            const size_t next = std::min(frame, c.SegmentFrom(f + 1));
            t += static_cast<double>(next - f) / c.RateAt(f);
            f = next;
        }
        return t;
    }

private:
    std::vector<std::pair<size_t, double>> marks_;
};

TEST(EngineDevice, DefaultDeviceChangedWhileIdleCostsNoCpuAndStillPlays) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    // The first initialisation's warm-ups are not what is measured.
    ASSERT_TRUE(BASS_Init(-1, kMixRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_Free());
    Faults faults("change");
    ASSERT_TRUE(BASS_Init(-1, kMixRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    // Nothing plays: the change is taken once, then the engine sleeps.
    const double before = ProcessCpuMs();
    Sleep(kCpuWindowMs);  // the window measured, not a wait for something
    const double used = ProcessCpuMs() - before;
    std::printf("idle after a change of default device: %.0f ms of CPU in %lu ms\n", used,
                static_cast<unsigned long>(kCpuWindowMs));
    EXPECT_GE(used, 0);
    EXPECT_LT(used, kIdleCpuLimitMs);

    // The device opened for the new default plays.
    const size_t start = CapturedFrames();
    HSTREAM h = PlayTone("after-change");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    // Half a second of it, whichever output the change left.
    EXPECT_TRUE(WaitFor([&] {
        Capture c;
        if (!ReadCapture(&c)) return false;
        const size_t loud = FirstLoud(c, start, c.frames());
        return loud < c.frames() && LastLoud(c, loud, c.frames()) >= loud + kMixRate / 2;
    })) << "not heard after the change";
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_Free());
}

TEST(EngineDevice, FreeReturnsWhileADeviceCloseHangs) {
    Faults faults("close-blocks");
    ASSERT_TRUE(BASS_Init(-1, kMixRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    HSTREAM h = PlayTone("close-hangs");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelGetLevel(h) != 0; })) << "never heard";
    EXPECT_TRUE(ReturnsTrueWithin(FreeEngine, kAtOnceMs)) << "BASS_Free waits for the hung close";
    // The hung close is left behind; the next engine starts and ends in time
    // (its own close hangs as well).
    EXPECT_TRUE(ReturnsTrueWithin(InitDefault, kAtOnceMs)) << "BASS_Init after the hang";
    EXPECT_TRUE(ReturnsTrueWithin(FreeEngine, kAtOnceMs)) << "BASS_Free after the hang";
}

TEST(EngineDevice, SoundIsBackWithinASecondOfAStalledDevice) {
    ASSERT_FALSE(UnixPathFromEnv("ORVANTIS_CAPTURE").empty()) << "run through with_servers.sh --paced-capture";
    const size_t start = CapturedFrames();
    // The first device stops playing after a second and a half and its close
    // hangs, as a stuck waveOut's under a busy Wine.
    Faults faults("stall=1500,close-blocks");
    ASSERT_TRUE(BASS_Init(-1, kMixRate, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    HSTREAM h = PlayTone("stall");
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    // Heard on the first device, then for two seconds on the one after it.
    Capture c;
    size_t first = 0, second = 0;
    const bool back = WaitFor([&] {
        c = Capture();
        if (!ReadCapture(&c)) return false;
        first = c.SegmentFrom(start);
        second = c.SegmentFrom(first + 1);
        return second < c.frames() && c.frames() >= second + 2 * static_cast<size_t>(c.RateAt(second));
    });
    // The stream goes on, its clock and spectrum with it.
    EXPECT_TRUE(PlaysTone(h, kToneHz, 16000));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(ReturnsTrueWithin(FreeEngine, kAtOnceMs)) << "BASS_Free waits for the hung close";
    ASSERT_TRUE(back) << "no second opening of the device with sound: " << c.segments.size()
                      << " openings in " << c.frames() << " frames";

    const size_t stalled = LastLoud(c, first, second);
    const size_t resumed = FirstLoud(c, second, c.frames());
    ASSERT_LT(stalled, second) << "nothing heard before the stall";
    ASSERT_LT(resumed, c.frames()) << "nothing heard after the stall";
    HeardTimes times;
    ASSERT_TRUE(times.Read());
    const double gap = times.At(c, resumed) - times.At(c, stalled);
    const int rate = c.RateAt(second);
    std::printf("sound back %.0f ms after the stall, on a device at %d Hz\n", gap * 1000, rate);
    EXPECT_LT(gap, kBackWithinS);
    // The mix stays at its rate: resampled for the other device, the tone
    // keeps its pitch and level.
    EXPECT_NE(rate, kMixRate) << "the other device runs at the mix's rate: nothing was resampled";
    const size_t window = static_cast<size_t>(rate) / 2;
    const size_t at = resumed + window / 2;
    for (int ch = 0; ch < 2; ++ch) {
        SCOPED_TRACE(ch == 0 ? "left" : "right");
        EXPECT_NEAR(DominantFrequency(c.Channel(ch, at, window), rate, 100, 2000), kToneHz, 3.0);
        EXPECT_NEAR(c.Peak(ch, at, window), kTonePeak, kTonePeak / 10);
    }
}

}  // namespace
