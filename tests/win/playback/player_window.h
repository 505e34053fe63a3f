// A small host for the stream player in the test process: the program's own
// main-window template (controls 3004 to 3023), the real language library,
// a station list of the test's own, the spectrum, and the real engine. It
// records what the player writes into the three information fields.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "directory/channel_list_model.h"
#include "playback/stream_player.h"
#include "settings/options.h"

class CLanguageManager;
class StationListBox;

namespace playertest {

// Longest any condition may take to come true: far beyond what a working
// player needs, it only keeps a broken one from hanging the run.
constexpr DWORD kPatienceMs = 30000;

// "http://127.0.0.1:<port><path>" of the radio server or the private Icecast.
std::string RadioUrl(const std::string& path);
std::string IcecastUrl(const std::string& path);
// The radio server's count of stream connections open now (-1: no answer).
int RadioLiveStreams();

// Threads and handles of this process, to compare before and after.
int ThreadCount();
DWORD HandleCount();

struct FieldText {
    int control;
    std::wstring text;
};

class PlayerWindow {
public:
    // device: the engine's output (0 = the silent, clocked one; -1 = default).
    PlayerWindow(const std::vector<std::string>& stationUrls, int device = 0,
                 Options options = DefaultOptions());
    ~PlayerWindow();
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    static Options DefaultOptions();

    // Selects a row and starts it, as a double click does.
    void Play(int row);
    void Stop();
    playback::StreamPlayer& player() { return *player_; }
    HWND window() const { return window_; }

    // Runs the window's messages until done() holds; false after limit ms.
    bool PumpUntil(const std::function<bool()>& done, DWORD limit = kPatienceMs);
    // Runs the window's messages for ms.
    void PumpFor(DWORD ms);

    std::wstring Field(int control) const;  // read through the wide text call
    bool FieldEnabled(int control) const;
    int MeterPosition(int control) const;
    int MeterTop(int control) const;  // the upper end of its range
    // Every text the player set into 3012, 3014 and 3016, in order.
    std::vector<FieldText> history() const { return history_; }
    void ClearHistory() { history_.clear(); }
    // WM_PLAYER_DONE as the window received it: 0 playing, 1 failed.
    std::vector<LPARAM> done() const { return done_; }
    // When (in milliseconds of the performance counter)
    // the window got its first play-thread report and its first done.
    double firstReportMs() const { return firstReport_; }
    double firstDoneMs() const { return firstDone_; }
    static double NowMs();
    std::wstring Caption() const;

    static void Record(int control, const std::wstring& text);

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    bool engine_ = false;
    CLanguageManager* language_ = nullptr;
    ChannelListModel stations_;
    std::unique_ptr<StationListBox> listBox_;
    std::unique_ptr<playback::StreamPlayer> player_;
    Options options_;
    std::vector<FieldText> history_;
    std::vector<LPARAM> done_;
    double firstReport_ = -1;
    double firstDone_ = -1;
    std::vector<std::pair<HWND, WNDPROC>> spied_;
};

}  // namespace playertest
