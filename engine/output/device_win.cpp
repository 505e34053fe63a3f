#include "engine/output/device_win.h"

#include <objbase.h>

#include <algorithm>

#include "engine/output/pacer.h"
#include "engine/stream.h"
#include "playback/bass.h"

namespace engine {

namespace {

constexpr DWORD kIdlePollMs = 50;
// Retries of the sound device after a failed write: soon, then less often.
constexpr int kMaxReopenAttempts = 30;
constexpr int64_t kReopenFirstMs = 250;
constexpr int64_t kReopenMaxMs = 2000;

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
    for (HANDLE h : {stop_, wake_, idle_, opened_, work_, device_changed_}) {
        if (h) CloseHandle(h);
    }
}

bool Device::Start(int device, int rate) {
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        if (state_ != DeviceState::Stopped) return false;
        state_ = DeviceState::Starting;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    counter_frequency_ = frequency.QuadPart;
    device_ = device;
    rate_ = rate;
    faults_ = ReadOutputFaults();
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    idle_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    opened_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    work_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    device_changed_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (stop_ && wake_ && idle_ && opened_ && work_ && device_changed_) {
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
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (!notifier_ || !mixer_ || !open_ok_) {
        Teardown();
        state_ = DeviceState::Stopped;
        return false;
    }
    state_ = DeviceState::Started;
    return true;
}

bool Device::OpenSound() {
    // waveOut first: it takes our rate and the system mixer converts it
    // for the device; shared-mode WASAPI where waveOut refuses.
    auto (*makers[])() -> std::unique_ptr<OutputBackend> = {MakeWaveOutOutput, MakeWasapiOutput};
    for (auto make : makers) {
        auto b = WithFaults(make(), faults_, sound_opened_ == 0);
        // Once streams play at the device's rate, another rate will not do.
        if (!b || !b->Open(rate_) || (rate_fixed_ && b->Rate() != rate_)) {
            if (b) b->Close();
            continue;
        }
        if (backend_) backend_->Close();
        backend_ = std::move(b);
        ++sound_opened_;
        rate_ = backend_->Rate();
        rate_fixed_ = true;
        sound_ = true;
        backend_name_ = backend_->Name();
        return true;
    }
    return false;
}

void Device::UseSilent() {
    if (backend_) backend_->Close();
    backend_ = MakeSilentOutput();
    backend_->Open(rate_);
    rate_fixed_ = true;
    sound_ = false;
    backend_name_ = backend_->Name();
}

void Device::OnWriteFailed() {
    // What was written counts as heard: the clock goes on from there, on the
    // silent stand-in. A device that hangs may hang its close as well, so the
    // close runs on a thread of its own; the device is tried again after it.
    clock_base_ = written_;
    CloseAside(std::move(backend_));
    sound_ = false;
    reopen_attempts_ = 0;
    next_reopen_ = Counter();
    UseSilent();
}

DWORD WINAPI Device::CloserMain(void* param) {
    std::unique_ptr<OutputBackend> backend(static_cast<OutputBackend*>(param));
    backend->Close();
    return 0;
}

void Device::CloseAside(std::unique_ptr<OutputBackend> backend) {
    FinishClosing(INFINITE);
    OutputBackend* raw = backend.release();
    closer_ = CreateThread(nullptr, 0, CloserMain, raw, 0, nullptr);
    if (!closer_) {
        raw->Close();
        delete raw;
    }
}

bool Device::FinishClosing(DWORD ms) {
    if (!closer_) return true;
    if (WaitForSingleObject(closer_, ms) != WAIT_OBJECT_0) return false;
    CloseHandle(closer_);
    closer_ = nullptr;
    return true;
}

bool Device::Reopen() {
    if (!FinishClosing(0)) return false;  // the last device has not let go yet
    const bool changed = WaitForSingleObject(device_changed_, 0) == WAIT_OBJECT_0;
    const bool due = reopen_attempts_ < kMaxReopenAttempts && Counter() >= next_reopen_;
    if (!changed && !due) return false;
    const uint64_t base = written_;
    if (OpenSound()) {
        clock_base_ = base;
        return true;
    }
    ++reopen_attempts_;
    const int64_t wait = std::min(kReopenFirstMs << std::min(reopen_attempts_, 4), kReopenMaxMs);
    next_reopen_ = Counter() + wait * counter_frequency_ / 1000;
    return false;
}

DWORD Device::ReopenWaitMs() const {
    if (sound_ || device_ == 0 || reopen_attempts_ >= kMaxReopenAttempts) return INFINITE;
    if (closer_) return static_cast<DWORD>(kReopenFirstMs);
    const int64_t left = (next_reopen_ - Counter()) * 1000 / counter_frequency_;
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

DeviceState Device::state() const {
    std::lock_guard<std::mutex> lock(state_mutex_);
    return state_;
}

void Device::Stop() {
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        // A second caller leaves the stopping to the first one.
        if (state_ != DeviceState::Started) return;
        state_ = DeviceState::Stopping;
    }
    Teardown();
    std::lock_guard<std::mutex> lock(state_mutex_);
    state_ = DeviceState::Stopped;
}

void Device::Teardown() {
    stopping_ = true;
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
    std::lock_guard<std::mutex> lock(mix_mutex_);
    streams_.clear();
}

void Device::SetClock(uint64_t played) {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    played_ = played;
    played_at_ = Counter();
}

uint64_t Device::Played() const {
    uint64_t played;
    int64_t at;
    {
        // One report: the count and the time it was true.
        std::lock_guard<std::mutex> lock(clock_mutex_);
        played = played_;
        at = played_at_;
    }
    const int64_t since = Counter() - at;
    const uint64_t extra =
        since > 0 ? static_cast<uint64_t>(since) * static_cast<uint64_t>(rate_) /
                        static_cast<uint64_t>(counter_frequency_)
                  : 0;
    const uint64_t written = written_.load();
    return played + extra < written ? played + extra : written;
}

bool Device::Attach(const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> state(state_mutex_);
    if (state_ != DeviceState::Started) return false;
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        if (std::find(streams_.begin(), streams_.end(), stream) == streams_.end())
            streams_.push_back(stream);
    }
    SetEvent(work_);
    return true;
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
    // Under the lock Notify takes: nothing of the stream enters the queue after this.
    stream->set_detached();
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
        if (notifier_quit_ || n.stream->detached()) return;
        for (const Notification& q : queue_) {
            if (q.stream == n.stream && q.sync_type == n.sync_type) return;  // still to come
        }
        if (queue_.size() >= kMaxQueuedNotifications) return;
        queue_.push_back(std::move(n));
    }
    SetEvent(wake_);
}

DWORD WINAPI Device::MixerMain(void* param) {
    auto* self = static_cast<Device*>(param);
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (self->device_ == 0) {
        self->UseSilent();
        self->open_ok_ = true;
    } else {
        self->open_ok_ = self->OpenSound();
        if (self->open_ok_) self->watch_ = WatchDefaultDevice(self->device_changed_);
        if (self->open_ok_ && self->faults_.signal_change) SetEvent(self->device_changed_);
    }
    SetEvent(self->opened_);
    if (self->open_ok_) self->MixLoop();
    self->watch_.reset();
    if (self->backend_) self->backend_->Close();
    self->backend_.reset();
    self->FinishClosing(INFINITE);
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
    OutputPacer pacer(counter_frequency_, rate_);
    int frames = 0;
    std::vector<float> mix;
    std::vector<int16_t> out;
    auto fit = [&] {
        frames = backend_->PeriodFrames();
        mix.assign(static_cast<size_t>(frames) * kOutputChannels, 0.0f);
        out.assign(mix.size(), 0);
        pacer.Reset();
    };
    fit();
    bool idle = true;  // nothing queued on the output
    while (!stopping_.load()) {
        if (!sound_ && device_ != 0 && Reopen()) fit();
        bool playing;
        {
            std::lock_guard<std::mutex> lock(mix_mutex_);
            playing = !streams_.empty();
        }
        if (!playing) {
            if (!idle) {
                backend_->Flush();
                SetClock(written_);
                idle = true;
            }
            HANDLE waits[3] = {stop_, work_, device_changed_};
            DWORD w = WaitForMultipleObjects(3, waits, FALSE, ReopenWaitMs());
            // A change of device is for Reopen to see.
            if (w == WAIT_OBJECT_0 + 2) SetEvent(device_changed_);
            continue;
        }
        if (idle) {
            idle = false;
            pacer.Reset();
        }
        MixBlock(mix, out, frames);
        if (!backend_->Write(out.data(), stop_)) {
            if (stopping_.load()) break;
            OnWriteFailed();
            fit();
            continue;
        }
        written_ += static_cast<uint64_t>(frames);
        SetClock(clock_base_ + backend_->Played());
        const uint32_t wait = pacer.After(static_cast<uint64_t>(frames), Counter());
        if (wait > 0) WaitForSingleObject(stop_, wait);
    }
}

void Device::NotifyLoop() {
    for (;;) {
        Notification n;
        {
            std::lock_guard<std::mutex> lock(notify_mutex_);
            if (notifier_quit_) return;
            // Detach empties the queue of its stream under this lock.
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
