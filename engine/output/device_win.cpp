#include "engine/output/device_win.h"

#include <objbase.h>

#include <algorithm>

#include "engine/stream.h"
#include "playback/bass.h"

namespace engine {

namespace {

constexpr DWORD kIdlePollMs = 50;
constexpr int64_t kMaxAheadMs = 100;    // how far an unclocked output may run ahead
constexpr double kUnclockedSpeed = 1.25;  // faster than real time by this: no clock

int16_t ToPcm16(float v) {
    float s = v * 32767.0f;
    if (!(s > -32768.0f)) return -32768;  // also NaN
    if (s > 32767.0f) return 32767;
    // Rounded by hand: the library's lrintf is a call per sample here.
    return static_cast<int16_t>(s >= 0.0f ? s + 0.5f : s - 0.5f);
}

int64_t Counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

void WaitPumping(HANDLE handle) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        // Only sent messages are dispatched here; posted ones stay queued.
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

std::shared_ptr<Device> Device::Open(int device, int rate, int* error) {
    std::shared_ptr<Device> d(new Device());
    if (!d->Start(device, rate)) {
        *error = BASS_ERROR_DRIVER;
        return nullptr;
    }
    *error = 0;
    return d;
}

Device::~Device() {
    Stop();
    for (HANDLE h : {stop_, wake_, idle_, opened_}) {
        if (h) CloseHandle(h);
    }
}

bool Device::Start(int device, int rate) {
    state_ = DeviceState::Starting;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    counter_frequency_ = frequency.QuadPart;
    device_ = device;
    rate_ = rate;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    idle_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    opened_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop_ && wake_ && idle_ && opened_) {
        // The notifier keeps the device alive: a callback may free the engine.
        auto* keep = new std::shared_ptr<Device>(shared_from_this());
        notifier_ = CreateThread(nullptr, 0, NotifierMain, keep, 0, &notifier_id_);
        if (!notifier_) delete keep;
        mixer_ = CreateThread(nullptr, 0, MixerMain, this, 0, nullptr);
    }
    if (notifier_ && mixer_) {
        // The mixer thread opens the output itself (COM lives on that thread).
        HANDLE waits[2] = {opened_, mixer_};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    if (!notifier_ || !mixer_ || !open_ok_) {
        Stop();
        return false;
    }
    state_ = DeviceState::Started;
    return true;
}

bool Device::OpenBackend() {
    if (device_ == 0) {
        backend_ = MakeSilentOutput();
        if (!backend_->Open(rate_)) backend_.reset();
    } else {
        // waveOut first: it takes our rate and the system mixer converts it
        // for the device; shared-mode WASAPI where waveOut refuses.
        auto (*makers[])() -> std::unique_ptr<OutputBackend> = {MakeWaveOutOutput,
                                                                MakeWasapiOutput};
        for (auto make : makers) {
            backend_ = make();
            if (backend_ && backend_->Open(rate_)) break;
            backend_.reset();
        }
    }
    if (!backend_) return false;
    rate_ = backend_->Rate();
    backend_name_ = backend_->Name();
    return true;
}

void Device::Stop() {
    DeviceState s = state_.load();
    if (s == DeviceState::Stopped || s == DeviceState::Stopping) return;
    state_ = DeviceState::Stopping;
    if (stop_) SetEvent(stop_);
    if (mixer_) {
        WaitPumping(mixer_);
        CloseHandle(mixer_);
        mixer_ = nullptr;
    }
    if (notifier_) {
        {
            std::lock_guard<std::mutex> lock(notify_mutex_);
            notifier_quit_ = true;
            queue_.clear();
        }
        SetEvent(wake_);
        if (!OnNotifierThread()) WaitPumping(notifier_);
        CloseHandle(notifier_);
        notifier_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        streams_.clear();
    }
    state_ = DeviceState::Stopped;
}

uint64_t Device::Played() const {
    const uint64_t played = played_.load();
    const int64_t since = Counter() - played_at_.load();
    const uint64_t extra =
        since > 0 ? static_cast<uint64_t>(since) * static_cast<uint64_t>(rate_) /
                        static_cast<uint64_t>(counter_frequency_)
                  : 0;
    const uint64_t written = written_.load();
    return played + extra < written ? played + extra : written;
}

void Device::Attach(const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> lock(mix_mutex_);
    if (std::find(streams_.begin(), streams_.end(), stream) == streams_.end())
        streams_.push_back(stream);
}

void Device::Detach(Stream* stream) {
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        streams_.erase(std::remove_if(streams_.begin(), streams_.end(),
                                      [&](const std::shared_ptr<Stream>& s) {
                                          return s.get() == stream;
                                      }),
                       streams_.end());
    }
    std::unique_lock<std::mutex> lock(notify_mutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Notification& n) { return n.stream.get() == stream; }),
                 queue_.end());
    // From inside the stream's own callback the wait would never end.
    if (OnNotifierThread()) return;
    while (in_flight_ == stream) {
        lock.unlock();
        HANDLE idle = idle_;
        DWORD r = MsgWaitForMultipleObjects(1, &idle, FALSE, kIdlePollMs, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        lock.lock();
    }
}

void Device::Notify(Notification n) {
    {
        std::lock_guard<std::mutex> lock(notify_mutex_);
        if (notifier_quit_) return;
        queue_.push_back(std::move(n));
    }
    SetEvent(wake_);
}

DWORD WINAPI Device::MixerMain(void* param) {
    auto* self = static_cast<Device*>(param);
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    self->open_ok_ = self->OpenBackend();
    SetEvent(self->opened_);
    if (self->open_ok_) self->MixLoop();
    if (self->backend_) self->backend_->Close();
    self->backend_.reset();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

DWORD WINAPI Device::NotifierMain(void* param) {
    std::shared_ptr<Device> self = std::move(*static_cast<std::shared_ptr<Device>*>(param));
    delete static_cast<std::shared_ptr<Device>*>(param);
    self->NotifyLoop();
    return 0;
}

void Device::MixBlock(std::vector<float>& mix, std::vector<int16_t>& out, int frames) {
    std::fill(mix.begin(), mix.end(), 0.0f);
    std::vector<Notification> due;
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        for (const auto& s : streams_) s->Render(mix.data(), frames, written_, rate_);
        uint64_t played = Played();
        for (const auto& s : streams_) s->CollectDue(played, s, &due);
    }
    for (size_t i = 0; i < static_cast<size_t>(frames) * kOutputChannels; ++i)
        out[i] = ToPcm16(mix[i]);
    for (auto& n : due) Notify(std::move(n));
}

void Device::MixLoop() {
    int frames = backend_->PeriodFrames();
    std::vector<float> mix(static_cast<size_t>(frames) * kOutputChannels);
    std::vector<int16_t> out(mix.size());
    while (WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) {
        MixBlock(mix, out, frames);
        if (!backend_->Write(out.data(), stop_)) {
            if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) break;
            // The device went away: keep the streams' clock on the silent
            // output so syncs and the end still come.
            clock_base_ = written_;
            backend_->Close();
            backend_ = MakeSilentOutput();
            backend_->Open(rate_);
            backend_name_ = backend_->Name();
            frames = backend_->PeriodFrames();
            mix.assign(static_cast<size_t>(frames) * kOutputChannels, 0.0f);
            out.assign(mix.size(), 0);
            continue;
        }
        written_ += static_cast<uint64_t>(frames);
        played_ = clock_base_ + backend_->Played();
        played_at_ = Counter();
        Pace(frames);
    }
}

void Device::Pace(int frames) {
    // An output that takes audio faster than it could play it (a sound file,
    // a null sink) would let the mixer race through the streams and spin a
    // core. Such an output is told by its pace over a window of a second;
    // while it shows it, the wall clock paces the mixer. A real device, within
    // a fraction of a percent of real time, is never second-guessed.
    const int64_t now = Counter();
    if (window_start_ == 0) window_start_ = now;
    window_frames_ += static_cast<uint64_t>(frames);
    const int64_t elapsed = now - window_start_;
    if (elapsed >= counter_frequency_) {
        const double speed = static_cast<double>(window_frames_) * static_cast<double>(counter_frequency_) /
                             (static_cast<double>(elapsed) * rate_);
        const bool unclocked = speed > kUnclockedSpeed;
        if (unclocked && !unclocked_) {
            pace_start_ = now;
            pace_frames_ = 0;
        }
        unclocked_ = unclocked;
        window_start_ = now;
        window_frames_ = 0;
    }
    if (!unclocked_) return;
    pace_frames_ += static_cast<uint64_t>(frames);
    const int64_t due = pace_start_ + static_cast<int64_t>(pace_frames_) * counter_frequency_ / rate_;
    const int64_t ahead_ms = (due - now) * 1000 / counter_frequency_;
    if (ahead_ms > kMaxAheadMs) WaitForSingleObject(stop_, static_cast<DWORD>(ahead_ms - kMaxAheadMs));
}

void Device::NotifyLoop() {
    for (;;) {
        Notification n;
        {
            std::lock_guard<std::mutex> lock(notify_mutex_);
            if (notifier_quit_) return;
            if (!queue_.empty()) {
                n = std::move(queue_.front());
                queue_.pop_front();
                in_flight_ = n.stream.get();
            }
        }
        if (!n.stream) {
            WaitForSingleObject(wake_, INFINITE);
            continue;
        }
        n.stream->Fire(n.sync_type);
        {
            std::lock_guard<std::mutex> lock(notify_mutex_);
            in_flight_ = nullptr;
        }
        SetEvent(idle_);
        // Dropping the reference outside the lock: this may end the stream.
        n.stream.reset();
    }
}

}  // namespace engine
