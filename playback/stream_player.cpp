#include "playback/stream_player.h"

#include <commctrl.h>

#include <atomic>
#include <cwchar>
#include <mutex>

#include "common/main_dialog_ids.h"
#include "directory/channel_list_model.h"
#include "engine/include/bass.h"
#include "playback/engine_errors.h"
#include "playback/spectrum_analyzer.h"
#include "playback/stream_metadata.h"
#include "playback/stream_text.h"
#include "settings/options.h"
#include "settings/string_ids.h"

namespace playback {

namespace {

constexpr DWORD kStreamFlags = BASS_STREAM_STATUS | BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE;
constexpr DWORD kBufferPollMs = 50;
constexpr uint64_t kBufferFull = 99;  // above this the buffer counts as full
constexpr int kPercentRange = 100;
constexpr int kLevelRange = 0x8000;
constexpr DWORD kFadeMs = 1000;
constexpr float kGlideStartHz = 100.0f;
constexpr QWORD kNoPosition = static_cast<QWORD>(-1);
constexpr DWORD kNoLevel = static_cast<DWORD>(-1);
constexpr LPARAM kPlaying = 0;
constexpr LPARAM kFailed = 1;

enum NoticeKind : LPARAM { kNoticeTitle = 1, kNoticeStatus = 2, kNoticeBoxClosed = 3 };

constexpr int kFields[] = {IDC_NAME, IDC_BITRATE, IDC_TITLE};

// The engine calls back on threads of its own, with the attempt's id as the
// user value; they only note what happened and post it to the window. One
// player per process, so one set of notes: the latest status text and
// whether a title or status notice is already on its way.
struct Notices {
    std::atomic<HWND> window{nullptr};
    std::atomic<uint32_t> titleQueued{0};
    std::mutex statusLock;
    uint32_t statusAttempt = 0;
    std::string statusText;
    bool statusQueued = false;
};

Notices& TheNotices() {
    static Notices* notices = new Notices;  // callbacks may outlive any player object
    return *notices;
}

uint32_t AttemptOf(void* user) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(user)); }
void* UserOf(uint32_t id) { return reinterpret_cast<void*>(static_cast<uintptr_t>(id)); }

void CALLBACK TitleChanged(HSYNC, DWORD, DWORD, void* user) {
    Notices& n = TheNotices();
    const uint32_t id = AttemptOf(user);
    // One notice in flight is enough: its handler reads the newest tags.
    if (n.titleQueued.exchange(id) == id) return;
    if (HWND window = n.window.load()) PostMessageA(window, WM_PLAYER_NOTICE, id, kNoticeTitle);
}

void CALLBACK StreamEnded(HSYNC, DWORD, DWORD, void*) {
    // Nothing: a radio that ends stays on until the user stops it.
}

void CALLBACK StatusText(const void* buffer, DWORD length, void* user) {
    if (!buffer || length != 0) return;  // downloaded bytes, not a status text
    Notices& n = TheNotices();
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(n.statusLock);
        n.statusAttempt = AttemptOf(user);
        n.statusText = static_cast<const char*>(buffer);
        post = !n.statusQueued;
        n.statusQueued = true;
    }
    HWND window = n.window.load();
    if (post && window) PostMessageA(window, WM_PLAYER_NOTICE, AttemptOf(user), kNoticeStatus);
}

// Makes a control keep its text as UTF-16, so the wide text call shows
// every character a station sends (an ANSI window would narrow it first).
void MakeUnicode(HWND control) {
    if (!control || IsWindowUnicode(control)) return;
    SetWindowLongPtrW(control, GWLP_WNDPROC, GetWindowLongPtrW(control, GWLP_WNDPROC));
}

}  // namespace

// One start of a station: its thread, its stop signal and what the thread
// needs. Owned by the player; freed once the thread has ended.
struct PlayAttempt {
    uint32_t id = 0;
    std::string url;
    HWND window = nullptr;
    ScopedHandle cancel;
    ScopedHandle thread;
};

// A play thread's report, sent to the window; `current` is the answer.
// For a stream that could not be created the answer also holds the error
// box the thread is to show.
struct PlayEvent {
    enum class Kind { Created, Progress, Failed, Ready, BoxClosed } kind = Kind::Created;
    HSTREAM stream = 0;
    int error = 0;
    int percent = 0;
    bool current = false;
    std::string boxText;
    const char* boxCaption = "";
};

namespace {

using Event = PlayEvent;

bool Report(HWND window, uint32_t id, Event& event) {
    event.current = false;  // stays so when the window is gone
    SendMessageA(window, WM_PLAYER_EVENT, id, reinterpret_cast<LPARAM>(&event));
    return event.current;
}

void Buffer(HWND window, uint32_t id, HANDLE cancel, HSTREAM stream) {
    for (;;) {
        const QWORD end = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END);
        const QWORD download = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
        const QWORD current = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
        if (end == kNoPosition || download == kNoPosition || current == kNoPosition) {
            Event failed;
            failed.kind = Event::Kind::Failed;
            Report(window, id, failed);
            return;
        }
        const uint64_t percent = BufferPercent(end, download, current);
        if (percent > kBufferFull) break;
        Event progress;
        progress.kind = Event::Kind::Progress;
        progress.percent = static_cast<int>(percent);
        if (!Report(window, id, progress)) return;
        if (WaitForSingleObject(cancel, kBufferPollMs) == WAIT_OBJECT_0) return;
    }
    Event ready;
    ready.kind = Event::Kind::Ready;
    Report(window, id, ready);
}

// The stream error box runs on the play thread, owned by the window, so the
// window answers while it shows and once it has closed: a box's thread may
// be held after the close (Wine with no window manager waits two seconds for
// one before it lets a hidden window go). The window hears of the close as
// the box hides, from a hook on this thread's sent messages; the report
// after MessageBoxA returns says it again.
struct BoxOwner {
    HWND window = nullptr;
    uint32_t id = 0;
};
thread_local BoxOwner t_boxOwner;

LRESULT CALLBACK WatchBox(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    // The box is this thread's only window: any hide is the box closing.
    if (code == HC_ACTION && sent->message == WM_WINDOWPOSCHANGING &&
        (reinterpret_cast<const WINDOWPOS*>(sent->lParam)->flags & SWP_HIDEWINDOW)) {
        PostMessageA(t_boxOwner.window, WM_PLAYER_NOTICE, t_boxOwner.id, kNoticeBoxClosed);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ShowErrorBox(HWND window, uint32_t id, const Event& failed) {
    t_boxOwner = BoxOwner{window, id};
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, WatchBox, nullptr, GetCurrentThreadId());
    MessageBoxA(window, failed.boxText.c_str(), failed.boxCaption, MB_ICONERROR);
    if (hook) UnhookWindowsHookEx(hook);
    Event closed;
    closed.kind = Event::Kind::BoxClosed;
    Report(window, id, closed);
}

// What a play thread does: everything that blocks, reporting each step.
// A report whose answer is "no longer current" ends the thread; a stream it
// created that the window never took is freed here.
DWORD WINAPI PlayThread(LPVOID parameter) {
    auto* attempt = static_cast<PlayAttempt*>(parameter);
    const uint32_t id = attempt->id;
    HWND window = attempt->window;
    if (WaitForSingleObject(attempt->cancel.get(), 0) != WAIT_OBJECT_0) {
        Event created;
        created.stream = BASS_StreamCreateURL(attempt->url.c_str(), 0, kStreamFlags, StatusText,
                                              UserOf(id));
        created.error = created.stream ? BASS_OK : BASS_ErrorGetCode();
        const bool current = Report(window, id, created);
        if (created.stream && !current) BASS_StreamFree(created.stream);
        if (created.stream && current) Buffer(window, id, attempt->cancel.get(), created.stream);
        if (!created.stream && current) ShowErrorBox(window, id, created);
    }
    // The last act: after this the player may free the record.
    PostMessageA(window, WM_PLAYER_THREAD_END, id, 0);
    return 0;
}

}  // namespace

StreamPlayer::StreamPlayer(PlayerHost host) : host_(std::move(host)) {
    TheNotices().window.store(host_.window);
    for (int id : kFields) MakeUnicode(GetDlgItem(host_.window, id));
}

StreamPlayer::~StreamPlayer() {
    // The window may be gone already: only the engine side is let go of here.
    // The window's shutdown has waited for the threads; what is still
    // leaving is not waited for again.
    Abandon();
    if (stream_) BASS_StreamFree(stream_);
    stream_ = 0;
    WaitForThreads(0);
    TheNotices().window.store(nullptr);
    // Threads that did not end in time still use their records: leave them.
    for (auto& attempt : live_) attempt.release();
}

void StreamPlayer::Start() {
    Stop();
    const int selection = static_cast<int>(SendMessageA(host_.listBox, LB_GETCURSEL, 0, 0));
    if (selection < 0) return;
    ChannelListModel* stations = host_.stations ? host_.stations() : nullptr;
    ChannelEntry* station = stations ? stations->GetChannel(selection) : nullptr;
    if (!station) return;
    const std::string url = station->serverCount > 0 && station->servers[0] ? station->servers[0] : "";

    bool started;
    if (live_.size() >= kMaxLiveAttempts) {
        // Too many attempts still leaving: this one starts when one has gone.
        pendingStart_ = true;
        pendingUrl_ = url;
        started = true;
    } else {
        started = Launch(url);
    }
    if (started) {
        station->playing = true;
        EnableFields(false);
        playing_ = true;
    }
    InvalidateRect(host_.listBox, nullptr, TRUE);
    ShowButton();
    Taskbar(TaskbarState::Connecting);
}

bool StreamPlayer::Launch(const std::string& url) {
    auto attempt = std::make_unique<PlayAttempt>();
    attempt->id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    attempt->url = url;
    attempt->window = host_.window;
    attempt->cancel.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!attempt->cancel) return false;
    attempt->thread.reset(
        CreateThread(nullptr, 0, PlayThread, attempt.get(), CREATE_SUSPENDED, nullptr));
    if (!attempt->thread) return false;
    current_ = attempt->id;
    threadRunning_ = true;
    takeStatus_ = true;
    ResumeThread(attempt->thread.get());
    live_.push_back(std::move(attempt));
    return true;
}

void StreamPlayer::Abandon() {
    for (auto& attempt : live_) SetEvent(attempt->cancel.get());
    current_ = 0;
    threadRunning_ = false;
    pendingStart_ = false;
    takeStatus_ = false;
}

void StreamPlayer::Stop() {
    Abandon();
    if (stream_) {
        BASS_StreamFree(stream_);
        stream_ = 0;
    }
    KillTimer(host_.window, kLevelTimerId);
    if (ChannelListModel* stations = host_.stations ? host_.stations() : nullptr)
        stations->ClearPlaying();
    spectrum::SetChannel(0);
    spectrum::Stop();
    SetMeters(0);
    for (int id : kFields) SetField(id, "");
    playing_ = false;
    InvalidateRect(host_.listBox, nullptr, TRUE);
    ShowButton();
    Taskbar(TaskbarState::Idle);
}

bool StreamPlayer::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PLAYER_EVENT:
        OnEvent(static_cast<uint32_t>(wParam), reinterpret_cast<PlayEvent*>(lParam));
        return true;
    case WM_PLAYER_NOTICE:
        OnNotice(static_cast<uint32_t>(wParam), lParam);
        return true;
    case WM_PLAYER_THREAD_END:
        OnThreadEnd(static_cast<uint32_t>(wParam));
        return true;
    case WM_PLAYER_DONE:
        OnDone(lParam);
        return true;
    default:
        return false;
    }
}

void StreamPlayer::OnEvent(uint32_t id, PlayEvent* event) {
    // A box shown for an attempt since stopped still closes as its own.
    if (event->kind == Event::Kind::BoxClosed) OnBoxClosed(id);
    event->current = Current(id);
    if (!event->current) return;
    switch (event->kind) {
    case Event::Kind::Created:
        OnCreated(*event);
        break;
    case Event::Kind::Progress:
        SetMeters(event->percent);
        SetField(IDC_BITRATE, FormatProgress(Text(IDS_STREAM_BUFFERING), event->percent).c_str());
        break;
    case Event::Kind::Failed:
        // The buffer's end became unknown: the stream is gone. No box.
        SendMessageA(host_.window, WM_PLAYER_DONE, 0, kFailed);
        break;
    case Event::Kind::Ready:
        BeginPlayback();
        if (Current(id)) SendMessageA(host_.window, WM_PLAYER_DONE, 0, kPlaying);
        break;
    case Event::Kind::BoxClosed:
        break;
    }
    event->current = Current(id);
}

void StreamPlayer::OnCreated(PlayEvent& event) {
    if (!event.stream) {
        // The title says so while the thread shows the box; its close stops.
        event.boxText = FormatStreamError(Text(IDS_STREAM_ERROR_HEAD), event.error,
                                          Text(EngineErrorTextId(event.error)));
        event.boxCaption = host_.caption;
        errorBox_ = current_;
        if (host_.setTitle) host_.setTitle(Text(IDS_STREAM_ERROR_STATUS));
        return;
    }
    stream_ = event.stream;
    const Options* options = host_.options;
    BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_VOL, options ? options->volume : 1.0f);
    BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_PAN, options ? options->pan : 0.0f);
    SetField(IDC_TITLE, Text(IDS_STREAM_CONNECTING));
    SetField(IDC_BITRATE, Text(IDS_STREAM_BUFFERING));
    SetMeterRange(kPercentRange);
    SetMeters(0);
}

void StreamPlayer::BeginPlayback() {
    const uint32_t id = current_;
    takeStatus_ = false;
    SetMeterRange(kLevelRange);
    SetField(IDC_NAME, Text(IDS_UNKNOWN_STATION));
    SetField(IDC_BITRATE, Text(IDS_UNKNOWN_BITRATE));
    const HeaderTexts tags = ParseHeaderTags(BASS_ChannelGetTags(stream_, BASS_TAG_ICY),
                                             BASS_ChannelGetTags(stream_, BASS_TAG_HTTP));
    if (tags.hasName) SetFieldWide(IDC_NAME, DecodeStationText(tags.name));
    if (tags.hasBitrate) SetFieldWide(IDC_BITRATE, DecodeStationText(tags.bitrate));
    EnableFields(true);
    UpdateTitle(true);

    BASS_ChannelSetSync(stream_, BASS_SYNC_META, 0, TitleChanged, UserOf(id));
    BASS_ChannelSetSync(stream_, BASS_SYNC_OGG_CHANGE, 0, TitleChanged, UserOf(id));
    BASS_ChannelSetSync(stream_, BASS_SYNC_END, 0, StreamEnded, UserOf(id));
    spectrum::SetChannel(stream_);
    spectrum::Start();

    const Options* options = host_.options;
    BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_VOL, 0.0f);
    BASS_ChannelPlay(stream_, FALSE);
    if (options && options->muteOnLockEffect) {
        BASS_ChannelGetAttribute(stream_, BASS_ATTRIB_FREQ, &savedFrequency);
        BASS_ChannelSetAttribute(stream_, BASS_ATTRIB_FREQ, kGlideStartHz);
        BASS_ChannelSlideAttribute(stream_, BASS_ATTRIB_FREQ, savedFrequency, kFadeMs);
    }
    BASS_ChannelSlideAttribute(stream_, BASS_ATTRIB_VOL, options ? options->volume : 1.0f, kFadeMs);
    Taskbar(TaskbarState::Playing);
    SetTimer(host_.window, kLevelTimerId, kLevelTimerMs, nullptr);
}

void StreamPlayer::UpdateTitle(bool first) {
    const char* meta = BASS_ChannelGetTags(stream_, BASS_TAG_META);
    const char* ogg = meta ? nullptr : BASS_ChannelGetTags(stream_, BASS_TAG_OGG);
    TitleUpdate update = ParseTitle(meta, ogg);
    // A stream with no metadata at all would keep "Connecting..." as its title.
    if (first && update.action == TitleUpdate::Action::Keep && !meta && !ogg)
        update.action = TitleUpdate::Action::NoTitle;
    switch (update.action) {
    case TitleUpdate::Action::Keep:
        break;
    case TitleUpdate::Action::Show:
        SetFieldWide(IDC_TITLE, DecodeStationText(update.text));
        break;
    case TitleUpdate::Action::NoTitle:
        SetField(IDC_TITLE, Text(IDS_NO_TITLE));
        break;
    }
}

void StreamPlayer::OnNotice(uint32_t id, LPARAM kind) {
    Notices& n = TheNotices();
    if (kind == kNoticeBoxClosed) {
        OnBoxClosed(id);
        return;
    }
    if (kind == kNoticeTitle) {
        n.titleQueued.compare_exchange_strong(id, 0);
        // Before playback begins the first title comes with the station's texts.
        if (Current(id) && stream_ && !takeStatus_) UpdateTitle(false);
        return;
    }
    std::string status;
    uint32_t from = 0;
    {
        std::lock_guard<std::mutex> guard(n.statusLock);
        status = n.statusText;
        from = n.statusAttempt;
        n.statusQueued = false;
    }
    if (!Current(from) || !takeStatus_) return;
    const wchar_t* label = host_.wideText ? host_.wideText(IDS_STREAM_STATUS) : L"";
    SetFieldWide(IDC_NAME, FormatStatus(std::u16string(label, label + wcslen(label)), status));
}

void StreamPlayer::OnThreadEnd(uint32_t id) {
    for (auto it = live_.begin(); it != live_.end(); ++it) {
        if ((*it)->id != id) continue;
        // The thread posted this as its last act; it is returning now.
        WaitForSingleObject((*it)->thread.get(), INFINITE);
        live_.erase(it);
        break;
    }
    if (Current(id)) threadRunning_ = false;
    if (pendingStart_ && live_.size() < kMaxLiveAttempts) {
        pendingStart_ = false;
        if (!Launch(pendingUrl_)) Stop();
    }
}

void StreamPlayer::OnDone(LPARAM failed) {
    threadRunning_ = false;  // forget the thread: it is about to end on its own
    if (failed == kFailed) Stop();
}

void StreamPlayer::OnLevelTimer() {
    if (!playing_) return;
    DWORD level = BASS_ChannelGetLevel(stream_);
    if (level == kNoLevel) level = 0;  // an error, not sound
    SendDlgItemMessageA(host_.window, IDC_LEFT_METER, PBM_SETPOS, LOWORD(level), 0);
    SendDlgItemMessageA(host_.window, IDC_RIGHT_METER, PBM_SETPOS, HIWORD(level), 0);
}

bool StreamPlayer::WaitForThreads(DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (!live_.empty()) {
        std::vector<HANDLE> threads;
        for (auto& attempt : live_) threads.push_back(attempt->thread.get());
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= timeoutMs) return false;
        // Wakes for sent messages too: a thread may be reporting right now.
        const DWORD woke = MsgWaitForMultipleObjects(static_cast<DWORD>(threads.size()),
                                                     threads.data(), FALSE,
                                                     static_cast<DWORD>(timeoutMs - spent),
                                                     QS_SENDMESSAGE);
        if (woke < WAIT_OBJECT_0 + threads.size()) {
            live_.erase(live_.begin() + (woke - WAIT_OBJECT_0));
        } else if (woke == WAIT_OBJECT_0 + threads.size()) {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        } else {
            return false;
        }
    }
    return true;
}

void StreamPlayer::OnBoxClosed(uint32_t id) {
    // Heard twice (as the box hides and when the thread's call returns), and
    // a newer attempt's box may be up by then: only the shown box's first.
    if (id == 0 || id != errorBox_) return;
    errorBox_ = 0;
    if (host_.setTitle) host_.setTitle("");
    if (Current(id)) SendMessageA(host_.window, WM_PLAYER_DONE, 0, kFailed);
}

void StreamPlayer::SetMeters(int position) {
    SendDlgItemMessageA(host_.window, IDC_LEFT_METER, PBM_SETPOS, position, 0);
    SendDlgItemMessageA(host_.window, IDC_RIGHT_METER, PBM_SETPOS, position, 0);
}

void StreamPlayer::SetMeterRange(int top) {
    SendDlgItemMessageA(host_.window, IDC_LEFT_METER, PBM_SETRANGE, 0, MAKELPARAM(0, top));
    SendDlgItemMessageA(host_.window, IDC_RIGHT_METER, PBM_SETRANGE, 0, MAKELPARAM(0, top));
}

void StreamPlayer::SetField(int id, const char* text) { SetDlgItemTextA(host_.window, id, text); }

void StreamPlayer::SetFieldWide(int id, const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    SetDlgItemTextW(host_.window, id, wide.c_str());
}

void StreamPlayer::EnableFields(bool on) {
    for (int id : kFields) EnableWindow(GetDlgItem(host_.window, id), on);
}

void StreamPlayer::ShowButton() {
    SendDlgItemMessageA(host_.window, IDC_PLAY, BM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(playing_ ? host_.stopIcon : host_.playIcon));
}

void StreamPlayer::Taskbar(TaskbarState state) {
    if (host_.taskbar) host_.taskbar(state);
}

const char* StreamPlayer::Text(int id) const {
    const char* text = host_.text ? host_.text(id) : nullptr;
    return text ? text : "";
}

}  // namespace playback
