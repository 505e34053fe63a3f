// The stream player in a host window with the real engine, against the
// misbehaving radio server and a private Icecast fed by ezstream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <random>

#include "app/res/resource.h"
#include "box_watcher.h"
#include "engine/include/bass.h"
#include "player_window.h"

namespace {

using playertest::IcecastUrl;
using playertest::PlayerWindow;
using playertest::RadioUrl;

constexpr LPARAM kPlaying = 0;
constexpr LPARAM kFailed = 1;

bool Has(const std::vector<playertest::FieldText>& history, int control, const std::wstring& text) {
    for (const auto& entry : history)
        if (entry.control == control && entry.text == text) return true;
    return false;
}

void ExpectIdle(PlayerWindow& w) {
    EXPECT_FALSE(w.player().playing());
    EXPECT_EQ(w.player().stream(), 0u);
    for (int id : {IDC_NAME, IDC_TITLE, IDC_BITRATE}) EXPECT_EQ(w.Field(id), L"") << id;
    EXPECT_EQ(w.MeterPosition(IDC_LEFT_METER), 0);
    EXPECT_EQ(w.MeterPosition(IDC_RIGHT_METER), 0);
}

TEST(StreamPlayer, IcecastStationShowsItsNameBitRateAndEachNewTitle) {
    PlayerWindow w({IcecastUrl("/tone.mp3"), IcecastUrl("/tone.ogg")});
    w.Play(0);
    EXPECT_TRUE(w.player().playing());
    EXPECT_FALSE(w.FieldEnabled(IDC_TITLE));  // until the station's texts are in
    ASSERT_TRUE(w.PumpUntil([&] { return !w.done().empty(); }));
    EXPECT_EQ(w.done(), std::vector<LPARAM>{kPlaying});
    EXPECT_EQ(w.Field(IDC_NAME), L"Orvantis Test Radio");
    EXPECT_EQ(w.Field(IDC_BITRATE), L"128 KBit/s");
    EXPECT_TRUE(w.FieldEnabled(IDC_NAME) && w.FieldEnabled(IDC_TITLE) && w.FieldEnabled(IDC_BITRATE));
    // ezstream names the file it plays until the harness sets its first title.
    ASSERT_TRUE(w.PumpUntil([&] { return w.Field(IDC_TITLE).rfind(L"Tone ", 0) == 0; }))
        << w.Field(IDC_TITLE);
    const std::wstring first = w.Field(IDC_TITLE);
    // The harness names a new title every three seconds.
    EXPECT_TRUE(w.PumpUntil([&] {
        const std::wstring now = w.Field(IDC_TITLE);
        return now != first && now.rfind(L"Tone ", 0) == 0;
    })) << "still " << w.Field(IDC_TITLE);

    // The Ogg mount: chained streams, each with its own artist and title.
    w.Play(1);
    ASSERT_TRUE(w.PumpUntil([&] { return w.done().size() == 2; }));
    EXPECT_EQ(w.done()[1], kPlaying);
    EXPECT_EQ(w.Field(IDC_TITLE).rfind(L"Test Artist - Ogg ", 0), 0u) << w.Field(IDC_TITLE);
    const std::wstring ogg = w.Field(IDC_TITLE);
    EXPECT_TRUE(w.PumpUntil([&] { return w.Field(IDC_TITLE) != ogg; })) << "no next Ogg title";
    EXPECT_EQ(w.Field(IDC_TITLE).rfind(L"Test Artist - Ogg ", 0), 0u) << w.Field(IDC_TITLE);

    w.Stop();
    ExpectIdle(w);
}

TEST(StreamPlayer, BufferingShowsItsProgressThenTheStationsTexts) {
    // A small burst and real-time pacing: the network buffer fills in steps.
    PlayerWindow w({RadioUrl("/stream.mp3?burst=2048&metaint=4096")});
    w.Play(0);
    ASSERT_TRUE(w.PumpUntil([&] { return !w.done().empty(); }));
    ASSERT_EQ(w.done(), std::vector<LPARAM>{kPlaying});
    const auto history = w.history();
    EXPECT_TRUE(Has(history, IDC_TITLE, L"Connecting..."));
    int last = -1;
    int steps = 0;
    for (const auto& entry : history) {
        int percent = -1;
        if (entry.control == IDC_BITRATE && swscanf(entry.text.c_str(), L"Buffering: %d%%", &percent) == 1) {
            EXPECT_GE(percent, last) << "progress went back";
            EXPECT_LE(percent, 99);
            last = percent;
            ++steps;
        }
    }
    EXPECT_GE(steps, 2) << "no progress was shown";
    EXPECT_EQ(w.Field(IDC_BITRATE), L" 128 KBit/s");  // the server writes "icy-br: 128"
    EXPECT_EQ(w.Field(IDC_TITLE), L"Tone 1");
    // The meters showed the percentage; now they take the engine's levels.
    EXPECT_EQ(w.MeterTop(IDC_LEFT_METER), 32768);
    EXPECT_EQ(w.MeterTop(IDC_RIGHT_METER), 32768);
}

TEST(StreamPlayer, TitlesInUtf8AndInLatin1BothReadBackRight) {
    // UTF-8 with letters no ANSI code page holds together ("Radio Żak – Мир"),
    // and "Motörhead – Ace" in Windows-1252 (ö = F6, – = 96).
    PlayerWindow w({RadioUrl("/stream.mp3?metaint=4096&title=Radio%20%C5%BBak%20%E2%80%93%20"
                             "%D0%9C%D0%B8%D1%80"),
                    RadioUrl("/stream.mp3?metaint=4096&title=Mot%F6rhead%20%96%20Ace")});
    const std::wstring expected[] = {L"Radio \u017Bak \u2013 \u041C\u0438\u0440",
                                     L"Mot\u00F6rhead \u2013 Ace"};
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        w.Play(row);
        ASSERT_TRUE(w.PumpUntil([&] { return w.done().size() == static_cast<size_t>(row + 1); }));
        EXPECT_EQ(w.Field(IDC_TITLE), expected[row]);
    }
}

TEST(StreamPlayer, StationWithoutTagsShowsTheDefaults) {
    PlayerWindow w({RadioUrl("/stream.mp3?notags=1")});
    w.Play(0);
    ASSERT_TRUE(w.PumpUntil([&] { return !w.done().empty(); }));
    EXPECT_EQ(w.Field(IDC_NAME), L"Unknown station");
    EXPECT_EQ(w.Field(IDC_BITRATE), L"Unknown bit rate");
    // No metadata at all: the title says so rather than "Connecting...".
    EXPECT_EQ(w.Field(IDC_TITLE), L"No title");
}

TEST(StreamPlayer, StationsThatFailShowTheEnginesErrorAndEndIdle) {
    struct Case {
        std::string url;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"http://127.0.0.1:1/stream.mp3", BASS_ERROR_FILEOPEN, "The stream could not be opened."},
        {RadioUrl("/missing"), BASS_ERROR_FILEOPEN, "The stream could not be opened."},
        {RadioUrl("/noise"), BASS_ERROR_FILEFORM, "The stream's file format is not supported."},
    };
    std::vector<std::string> urls;
    for (const Case& c : cases) urls.push_back(c.url);
    PlayerWindow w(urls);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(cases[row].url);
        testsupport::BoxWatcher boxes;
        w.Play(row);
        ASSERT_TRUE(w.PumpUntil([&] { return w.done().size() == static_cast<size_t>(row + 1); }));
        EXPECT_EQ(w.done().back(), kFailed);
        const auto seen = boxes.Boxes();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, "Orvantis");
        EXPECT_EQ(seen[0].text, "The stream could not be played (error code " +
                                    std::to_string(cases[row].code) + ")\n\n\"" + cases[row].text +
                                    "\"");
        EXPECT_EQ(w.Caption(), L"Test");  // "error" shown while the box was up, then reset
        ExpectIdle(w);
    }
}

TEST(StreamPlayer, StopWhileConnectingOrBufferingLeavesNothingBehind) {
    const int threads = playertest::ThreadCount();
    // Answers after 1.5 s; fills its buffer slowly once it does.
    PlayerWindow w({RadioUrl("/stream.mp3?delay=1500"), RadioUrl("/stream.mp3?burst=1024")});
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        w.Play(row);
        if (row == 0) {
            w.PumpFor(300);  // inside the connect
        } else {
            ASSERT_TRUE(w.PumpUntil([&] { return w.player().stream() != 0; }));  // buffering
        }
        EXPECT_TRUE(w.done().empty());
        const DWORD stream = w.player().stream();
        w.Stop();
        w.ClearHistory();
        ExpectIdle(w);
        if (stream) {
            float rate = 0;
            EXPECT_FALSE(BASS_ChannelGetAttribute(stream, BASS_ATTRIB_FREQ, &rate));
            EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        }
        // The abandoned attempt finishes on its own: its thread ends, its
        // stream (made after the stop) is freed and nothing reaches the window.
        EXPECT_TRUE(w.PumpUntil([&] { return w.player().liveThreads() == 0; }));
        EXPECT_TRUE(w.PumpUntil([&] { return playertest::RadioLiveStreams() == 0; }));
        w.PumpFor(500);
        EXPECT_TRUE(w.history().empty()) << "late text from the abandoned attempt";
        EXPECT_TRUE(w.done().empty());
        ExpectIdle(w);
    }
    EXPECT_TRUE(w.PumpUntil([&] { return playertest::ThreadCount() <= threads + 8; }));
}

TEST(StreamPlayer, ManyStartsAndStopsAtRandomMomentsLeaveNoThreadOrHandle) {
    PlayerWindow w({RadioUrl("/stream.mp3?fast=1"), RadioUrl("/stream.mp3?burst=1024"),
                    RadioUrl("/stream.mp3?delay=300"), RadioUrl("/missing"),
                    RadioUrl("/stream.ogg?fast=1")});
    testsupport::BoxWatcher boxes;
    // One warm cycle first: the engine starts its own threads on first use.
    w.Play(0);
    ASSERT_TRUE(w.PumpUntil([&] { return !w.done().empty(); }));
    w.Stop();
    ASSERT_TRUE(w.PumpUntil([&] { return w.player().liveThreads() == 0; }));
    w.PumpFor(200);
    const int threads = playertest::ThreadCount();
    const DWORD handles = playertest::HandleCount();

    std::mt19937 random(20261209);
    size_t most = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        w.Play(static_cast<int>(random() % 5));
        w.PumpFor(random() % 120);
        most = std::max(most, w.player().liveThreads());
        if (random() % 3 == 0) w.Stop();
    }
    w.Stop();
    EXPECT_LE(most, playback::kMaxLiveAttempts);
    ASSERT_TRUE(w.PumpUntil([&] { return w.player().liveThreads() == 0; }));
    EXPECT_TRUE(w.PumpUntil([&] { return playertest::RadioLiveStreams() == 0; }));
    ExpectIdle(w);
    EXPECT_TRUE(w.PumpUntil([&] {
        return playertest::ThreadCount() <= threads && playertest::HandleCount() <= handles + 4;
    })) << playertest::ThreadCount() << " threads (" << threads << " before), "
        << playertest::HandleCount() << " handles (" << handles << " before)";
}

}  // namespace
