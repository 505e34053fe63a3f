// The stream player: starts and stops the selected station for the main
// window. A play thread per attempt does what blocks (connecting, waiting for
// the network buffer, showing the stream error box); every change of the
// window and of the player's state happens on the UI thread, in answer to
// the thread's messages, and only for the attempt that is still current.
// Stop abandons an attempt by signalling it, never by killing its thread:
// nothing of an abandoned attempt reaches the window, and its stream is freed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/scoped_handle.h"

class ChannelListModel;
struct Options;

namespace playback {

// Sent to the window as an attempt's last report: lParam 0 when it plays,
// 1 when it failed. The window answers with OnMessage, which forgets the
// thread and, for 1, stops.
constexpr UINT WM_PLAYER_DONE = WM_USER + 1;
// The player's own messages, clear of the dialog manager's WM_USER range.
constexpr UINT WM_PLAYER_EVENT = WM_APP + 1;       // sent by a play thread
constexpr UINT WM_PLAYER_NOTICE = WM_APP + 2;      // posted by the engine's callbacks
constexpr UINT WM_PLAYER_THREAD_END = WM_APP + 3;  // posted by a play thread as it ends

constexpr UINT_PTR kLevelTimerId = 1026;
constexpr UINT kLevelTimerMs = 25;
// Attempts whose threads may be alive at once (the current one and those
// still leaving); a start beyond that waits until one has ended.
constexpr size_t kMaxLiveAttempts = 4;

enum class TaskbarState { Idle, Connecting, Playing };

struct PlayAttempt;  // one start: its thread, its stop signal
struct PlayEvent;    // a play thread's report

// What the player needs of the window it plays in.
struct PlayerHost {
    HWND window = nullptr;   // holds the meters 3006/3008, the fields 3012/3014/3016, button 3009
    HWND listBox = nullptr;  // the station list (3004): its selection is what starts
    std::function<ChannelListModel*()> stations;   // the stations behind the list's rows
    std::function<const char*(int)> text;          // narrow text by id ("" when missing)
    std::function<const wchar_t*(int)> wideText;   // wide text by id (L"" when missing)
    std::function<void(const char*)> setTitle;     // the window title: caption [": " text]
    std::function<void(TaskbarState)> taskbar;     // may be empty
    const char* caption = "";                      // of the error box
    HICON playIcon = nullptr;
    HICON stopIcon = nullptr;
    const Options* options = nullptr;  // volume, pan and the pitch-glide effect, read at start
};

class StreamPlayer {
public:
    explicit StreamPlayer(PlayerHost host);
    // Abandons what runs and waits a moment for the threads; see Shutdown.
    ~StreamPlayer();
    StreamPlayer(const StreamPlayer&) = delete;
    StreamPlayer& operator=(const StreamPlayer&) = delete;

    // Stops, then starts the list's selected station (nothing without one).
    void Start();
    // Ends playback and any attempt, and empties the display; safe when idle.
    void Stop();
    // The window hands over every message; true when it was the player's.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Timer 1026: the level meters follow the stream.
    void OnLevelTimer();
    // For the window's shutdown after its stop: waits up to timeoutMs for the
    // play threads, answering the messages they send meanwhile; true when
    // none is left. (A thread inside a connect ends once the engine is freed.)
    bool WaitForThreads(DWORD timeoutMs);

    DWORD stream() const { return stream_; }
    bool playing() const { return playing_; }
    size_t liveThreads() const { return live_.size(); }
    // The rate saved before the pitch glide; the session lock shares it.
    float savedFrequency = 0.0f;

private:
    bool Launch(const std::string& url);
    void Abandon();
    void OnEvent(uint32_t id, PlayEvent* event);
    void OnNotice(uint32_t id, LPARAM kind);
    void OnThreadEnd(uint32_t id);
    void OnDone(LPARAM failed);
    void OnCreated(PlayEvent& event);
    void BeginPlayback();
    void UpdateTitle(bool first);
    void OnBoxClosed(uint32_t id);
    bool Current(uint32_t id) const { return id != 0 && id == current_; }
    void SetMeters(int position);
    void SetMeterRange(int top);
    void SetField(int id, const char* text);
    void SetFieldWide(int id, const std::u16string& text);
    void EnableFields(bool on);
    void ShowButton();
    void Taskbar(TaskbarState state);
    const char* Text(int id) const;

    PlayerHost host_;
    DWORD stream_ = 0;
    bool playing_ = false;
    uint32_t nextId_ = 1;
    uint32_t current_ = 0;       // the attempt whose reports count; 0 = none
    bool threadRunning_ = false; // the current attempt's thread has not reported its end
    bool pendingStart_ = false;  // a start waits for a free thread slot
    std::string pendingUrl_;
    bool takeStatus_ = false;    // status texts show until the station's own texts do
    uint32_t errorBox_ = 0;      // the attempt whose error box shows (and the title says so)
    std::vector<std::unique_ptr<PlayAttempt>> live_;
};

}  // namespace playback
