// The output backends on their own: each opens the default device (captured
// to a file by the test runner), takes periods and reports its clock moving.
#include <objbase.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/output/backend_win.h"
#include "engine_test_support.h"

namespace {

constexpr int kPeriods = 40;

void PlaysAndClockAdvances(engine::OutputBackend* out) {
    SCOPED_TRACE(out->Name());
    ASSERT_TRUE(out->Open(44100));
    ASSERT_GT(out->Rate(), 0);
    const int period = out->PeriodFrames();
    ASSERT_GT(period, 0);
    std::vector<int16_t> block(static_cast<size_t>(period) * 2);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    uint64_t last = 0;
    for (int p = 0; p < kPeriods; ++p) {
        for (int i = 0; i < period; ++i) {
            auto v = static_cast<int16_t>(8000 * sin(0.06 * (p * period + i)));
            block[2 * i] = block[2 * i + 1] = v;
        }
        ASSERT_TRUE(out->Write(block.data(), stop)) << "period " << p;
        uint64_t played = out->Played();
        EXPECT_GE(played, last);  // never runs backwards
        EXPECT_LE(played, static_cast<uint64_t>(p + 1) * period);  // nor ahead of what it got
        last = played;
    }
    const uint64_t total = static_cast<uint64_t>(kPeriods) * period;
    // The queue drains: the clock reaches what was written, minus what a
    // device may hold back until more comes.
    EXPECT_TRUE(enginetest::WaitFor([&] { return out->Played() + 8 * period >= total; }))
        << out->Played() << " of " << total;
    // A set stop event ends a wait for room at once.
    SetEvent(stop);
    for (int p = 0; p < 64 && out->Write(block.data(), stop); ++p) {
    }
    EXPECT_FALSE(out->Write(block.data(), stop));
    out->Close();
    CloseHandle(stop);
}

TEST(EngineOutput, WaveOutAndWasapiPlayOnTheDefaultDevice) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    PlaysAndClockAdvances(engine::MakeWaveOutOutput().get());
    PlaysAndClockAdvances(engine::MakeWasapiOutput().get());
    CoUninitialize();
}

TEST(EngineOutput, SilentOutputTakesPeriodsAndRunsItsClock) {
    auto out = engine::MakeSilentOutput();
    PlaysAndClockAdvances(out.get());
}

}  // namespace
