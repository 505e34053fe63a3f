// Freeing streams and the engine at every stage, from other threads and from
// inside the stream's own callbacks; nothing may be left running behind.
#include "engine_test_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace enginetest;

constexpr int kCycles = 200;
// Handles the system itself may open or close in between (Wine's own caches).
constexpr DWORD kHandleSlack = 4;

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 e = {};
    e.dwSize = sizeof e;
    int n = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) {
        if (e.th32OwnerProcessID == self) ++n;
    }
    CloseHandle(snap);
    return n;
}

DWORD HandleCount() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

bool IsGone(HSTREAM h) {
    return BASS_StreamGetFilePosition(h, BASS_FILEPOS_END) == static_cast<QWORD>(-1) &&
           BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
}

// A playing stream whose title changes often, with PROC set on its META sync
// (twice with a second user value); 0 when any step failed.
HSTREAM PlayWithTitleSync(SYNCPROC* proc, void* user, void* second_user = nullptr) {
    const HSTREAM h = BASS_StreamCreateURL(
        RadioUrl("/stream.mp3?fast=1&metaint=2000&title_every=4000").c_str(), 0, 0, nullptr,
        nullptr);
    if (h == 0) return 0;
    if (BASS_ChannelSetSync(h, BASS_SYNC_META, 0, proc, user) == 0 ||
        (second_user && BASS_ChannelSetSync(h, BASS_SYNC_META, 0, proc, second_user) == 0) ||
        !BASS_ChannelPlay(h, FALSE)) {
        BASS_StreamFree(h);
        return 0;
    }
    return h;
}

TEST(EngineLifetime, FreeEndsAConnectingCreateOnAnotherThread) {
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    HSTREAM result = 1;
    int error = 0;
    // The server accepts and never answers: only the free can end this.
    std::thread connecting([&] {
        result = BASS_StreamCreateURL(RadioUrl("/silent?free-test").c_str(), 0, 0, nullptr, nullptr);
        error = BASS_ErrorGetCode();
    });
    ASSERT_TRUE(WaitFor([] { return RadioSaw("/silent?free-test"); }));
    EXPECT_TRUE(BASS_Free());
    connecting.join();
    EXPECT_EQ(result, 0u);
    // Cancelled, not timed out.
    EXPECT_EQ(error, BASS_ERROR_INIT);
}

TEST(EngineLifetime, FreeWhileBufferingOrPlayingReturnsAndInvalidates) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    // Buffering: a few bytes came, then the server stalls.
    HSTREAM h = BASS_StreamCreateURL(RadioUrl("/stream.mp3?stall=20000").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(WaitFor([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) >= 20000; }));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(IsGone(h));

    // Playing.
    h = BASS_StreamCreateURL(RadioUrl("/stream.mp3").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    // Playing means sound on both sides; all ones would be an error.
    ASSERT_TRUE(WaitFor([&] {
        const DWORD level = BASS_ChannelGetLevel(h);
        return level != static_cast<DWORD>(-1) && LOWORD(level) > 0 && HIWORD(level) > 0;
    }));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(IsGone(h));
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

struct SlowCallback {
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
};

void CALLBACK SlowMeta(HSYNC, DWORD, DWORD, void* user) {
    auto* s = static_cast<SlowCallback*>(user);
    ++s->calls;
    s->inside = true;
    // Long enough that the free below certainly meets the callback running.
    Sleep(500);
    s->finished = true;
}

TEST(EngineLifetime, FreeWaitsForACallbackInFlight) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    SlowCallback slow;
    const HSTREAM h = PlayWithTitleSync(SlowMeta, &slow);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(WaitFor([&] { return slow.inside.load(); }));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_TRUE(slow.finished.load());
    // And nothing of that stream runs any more.
    const int calls = slow.calls.load();
    HSTREAM other = BASS_StreamCreateURL(RadioUrl("/stream.mp3?fast=1").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(other, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(other, FALSE));
    ASSERT_TRUE(WaitFor([&] { return BASS_StreamGetFilePosition(other, BASS_FILEPOS_CURRENT) > 32000; }));
    EXPECT_EQ(slow.calls.load(), calls);
    BASS_StreamFree(other);
}

struct SelfFree {
    std::atomic<int> result{-1};
    std::atomic<int> calls{0};
};

void CALLBACK FreeMyself(HSYNC, DWORD channel, DWORD, void* user) {
    auto* s = static_cast<SelfFree*>(user);
    ++s->calls;
    s->result = BASS_StreamFree(channel);
}

TEST(EngineLifetime, FreeFromInsideTheStreamsOwnCallback) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    // Two syncs of the same event: the free in the first one ends the
    // stream, so the second never starts.
    SelfFree self, second;
    const HSTREAM h = PlayWithTitleSync(FreeMyself, &self, &second);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(WaitFor([&] { return self.result.load() != -1; }));
    EXPECT_EQ(self.result.load(), TRUE);
    EXPECT_TRUE(IsGone(h));
    EXPECT_EQ(self.calls.load(), 1);
    // Another stream's titles keep the notifier busy long enough for a
    // straggler of the freed one to show.
    std::atomic<int> other_calls{0};
    const HSTREAM other = PlayWithTitleSync(CountSync, &other_calls);
    ASSERT_NE(other, 0u);
    ASSERT_TRUE(WaitFor([&] { return other_calls.load() >= 2; }));
    EXPECT_EQ(second.calls.load(), 0);
    BASS_StreamFree(other);
}

TEST(EngineLifetime, CreateFreeCyclesLeaveNoThreadOrHandle) {
    SilentEngine engine;
    ASSERT_TRUE(engine.ok());
    const std::string url = RadioUrl("/stream.mp3?fast=1");
    auto cycle = [&](bool play) {
        HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
        if (!h) return false;
        if (play) BASS_ChannelPlay(h, FALSE);
        return BASS_StreamFree(h) != FALSE;
    };
    ASSERT_TRUE(cycle(true));  // the first one opens what stays open (codec, Winsock)
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(cycle(i % 2 == 0)) << "cycle " << i;
    EXPECT_LE(ThreadCount(), threads);
    EXPECT_LE(HandleCount(), handles + kHandleSlack);
}

TEST(EngineLifetime, AacStationsOpenedFromManyThreadsAtOnceAllOpen) {
    // AAC streams share the system decoder's start-up: opened and freed on
    // several threads at once, right after an initialisation (while it warms
    // the decoder up) and again after the last one closed, each create returns
    // with its stream.
    constexpr int kRounds = 3;
    constexpr int kThreads = 4;
    constexpr int kCreatesPerThread = 4;
    const std::string url = RadioUrl("/stream.aac?fast=1");
    for (int round = 0; round < kRounds; ++round) {
        SilentEngine engine;
        ASSERT_TRUE(engine.ok());
        std::atomic<int> opened{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < kCreatesPerThread; ++i) {
                    const HSTREAM h = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
                    if (h && BASS_StreamFree(h)) ++opened;
                }
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(opened.load(), kThreads * kCreatesPerThread) << "round " << round;
    }
}

}  // namespace
