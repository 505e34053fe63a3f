#include "engine/output/device_win.h"

#include <objbase.h>

#include <algorithm>
#include <iterator>

#include "engine/output/pacer.h"
#include "engine/stream.h"
#include "engine/include/bass.h"

namespace engine {

namespace {

constexpr DWORD kIdlePollMs = 50;
// Retries of the sound device after a failed write: soon, then less often.
constexpr int kMaxReopenAttempts = 30;
constexpr int64_t kReopenFirstMs = 250;
constexpr int64_t kReopenMaxMs = 2000;
// A device let go of for a new default usually closes at once; its kind is
// waited for this long before the other is taken.
constexpr DWORD kChangeCloseGraceMs = 500;
// At the end, closes still running get this long, then are left behind: a
// free must not hang with the device.
constexpr DWORD kFinalCloseWaitMs = 500;

using MakeBackend = std::unique_ptr<OutputBackend> (*)();
// waveOut first: it takes our rate and the system mixer converts it for the
// device; shared-mode WASAPI, at the system mixer's rate, where waveOut fails.
constexpr MakeBackend kSoundMakers[] = {MakeWaveOutOutput, MakeWasapiOutput};

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
    static_assert(std::size(kSoundMakers) == kSoundKinds);
    for (int i = 0; i < kSoundKinds; ++i) {
        const int kind = (preferred_ + i) % kSoundKinds;
        if (SoundOutputsRunning(kind)) continue;  // its open could wait as long as the close
        const OutputFaults faults = faults_;
        const bool first = sound_opened_ == 0;
        auto b = MakeThreadedOutput([=] { return WithFaults(kSoundMakers[kind](), faults, first); }, kind);
        if (!b || !b->Open(rate_)) {
            if (b) b->Close();
            continue;
        }
        ++sound_opened_;
        if (backend_) backend_->Close();  // the silent stand-in
        backend_ = std::move(b);
        kind_ = kind;
        // The first output sets the mix's rate; later ones are resampled to.
        if (!rate_fixed_) rate_ = backend_->Rate();
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

void Device::LetGo(DWORD grace_ms) {
    // What was mixed counts as heard: the clock goes on from there.
    clock_base_ = written_;
    CloseAside(std::move(backend_), kind_);
    UseSilent();
    reopen_attempts_ = 0;
    next_reopen_ = Counter();
    close_grace_end_ = next_reopen_ + static_cast<int64_t>(grace_ms) * counter_frequency_ / 1000;
}

void Device::OnWriteFailed() {
    // Stuck: the other kind at once, without waiting for this one's close.
    preferred_ = (kind_ + 1) % kSoundKinds;
    LetGo(0);
}

void Device::CloseAside(std::unique_ptr<OutputBackend> backend, int kind) {
    // Lets go at once: the output's own thread closes it.
    backend->Close();
    if (closers_[kind]) CloseHandle(closers_[kind]);  // that close ended: we open no kind still closing
    closers_[kind] = backend->TakeClosing();
}

void Device::ReapClosers() {
    for (HANDLE& h : closers_) {
        if (h && WaitForSingleObject(h, 0) == WAIT_OBJECT_0) {
            CloseHandle(h);
            h = nullptr;
        }
    }
}

bool Device::Closing() const {
    return std::any_of(std::begin(closers_), std::end(closers_), [](HANDLE h) { return h; });
}

void Device::LeaveClosers(DWORD ms) {
    HANDLE running[kSoundKinds];
    DWORD n = 0;
    for (HANDLE h : closers_) {
        if (h) running[n++] = h;
    }
    if (n > 0) WaitForMultipleObjects(n, running, TRUE, ms);
    for (HANDLE& h : closers_) {
        if (h) CloseHandle(h);
        h = nullptr;
    }
}

bool Device::Reopen() {
    ReapClosers();
    const int64_t now = Counter();
    if (change_pending_ || WaitForSingleObject(device_changed_, 0) == WAIT_OBJECT_0) {
        // A new default device: worth trying at once.
        change_pending_ = false;
        reopen_attempts_ = 0;
        next_reopen_ = now;
    }
    if (reopen_attempts_ >= kMaxReopenAttempts || now < next_reopen_) return false;
    if (Closing() && now < close_grace_end_) return false;
    if (OpenSound()) {
        clock_base_ = written_;
        return true;
    }
    ++reopen_attempts_;
    const int64_t wait = std::min(kReopenFirstMs << std::min(reopen_attempts_, 4), kReopenMaxMs);
    next_reopen_ = now + wait * counter_frequency_ / 1000;
    return false;
}

DWORD Device::ReopenWaitMs() const {
    if (sound_ || device_ == 0 || reopen_attempts_ >= kMaxReopenAttempts) return INFINITE;
    int64_t until = next_reopen_;
    if (Closing() && until < close_grace_end_) until = close_grace_end_;
    const int64_t left = until - Counter();
    // Rounded up: a wait that ends early only comes round again.
    return left > 0 ? static_cast<DWORD>((left * 1000 + counter_frequency_ - 1) / counter_frequency_) : 0;
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
    // Sound that comes late is a dropout: the mixer goes before the busy
    // work of other programs (and of ours: downloads, windows).
    SetThreadPriority(GetCurrentThread(), kAudioThreadPriority);
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (self->device_ == 0) {
        self->UseSilent();
        self->open_ok_ = true;
    } else {
        // An engine freed just before may still be closing its output: a
        // moment for it, rather than the other kind at once.
        WaitForSoundOutputs(kChangeCloseGraceMs);
        self->open_ok_ = self->OpenSound();
        if (self->open_ok_) self->watch_ = WatchDefaultDevice(self->device_changed_);
        if (self->open_ok_ && self->faults_.signal_change) SetEvent(self->device_changed_);
    }
    SetEvent(self->opened_);
    if (self->open_ok_) self->MixLoop();
    self->watch_.reset();
    if (self->backend_ && self->sound_) {
        self->CloseAside(std::move(self->backend_), self->kind_);
    } else if (self->backend_) {
        self->backend_->Close();
        self->backend_.reset();
    }
    self->LeaveClosers(kFinalCloseWaitMs);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

DWORD WINAPI Device::NotifierMain(void* param) {
    std::shared_ptr<Device> self = std::move(*static_cast<std::shared_ptr<Device>*>(param));
    delete static_cast<std::shared_ptr<Device>*>(param);
    self->NotifyLoop();
    return 0;
}

void Device::MixBlock(std::vector<float>& mix, size_t frames) {
    mix.assign(frames * kOutputChannels, 0.0f);
    std::vector<Notification> due;
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        for (const auto& s : streams_) s->Render(mix.data(), static_cast<int>(frames), written_, rate_);
        uint64_t played = Played();
        for (const auto& s : streams_) s->CollectDue(played, s, &due);
    }
    for (auto& n : due) Notify(std::move(n));
}

void Device::MixLoop() {
    OutputPacer pacer(counter_frequency_, rate_);
    std::vector<float> mix;
    std::vector<int16_t> out;
    auto fit = [&] {
        const int period = backend_->PeriodFrames();
        converter_.Reset(rate_, backend_->Rate(), static_cast<size_t>(period));
        out.assign(static_cast<size_t>(period) * kOutputChannels, 0);
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
                // Dropped frames count as heard; so do the mix's frames that
                // were still on their way to the output.
                backend_->Flush();
                converter_.Drop();
                const uint64_t given = converter_.ToMixFrames(backend_->Played());
                clock_base_ = written_ > given ? written_ - given : 0;
                SetClock(written_);
                idle = true;
            }
            if (change_pending_ && sound_) {
                // Nothing to cut off: the new default device is taken now.
                change_pending_ = false;
                preferred_ = 0;
                LetGo(kChangeCloseGraceMs);
                fit();
                continue;
            }
            HANDLE waits[3 + kSoundKinds] = {stop_, work_, device_changed_};
            DWORD count = 3;
            // Without sound, a close that ends lets the device be opened again.
            for (HANDLE h : closers_) {
                if (h && !sound_) waits[count++] = h;
            }
            const DWORD w = WaitForMultipleObjects(count, waits, FALSE, ReopenWaitMs());
            // Taken once; a change while sound plays waits for the next idle moment.
            if (w == WAIT_OBJECT_0 + 2) change_pending_ = true;
            continue;
        }
        if (idle) {
            idle = false;
            pacer.Reset();
        }
        uint64_t mixed = 0;
        for (size_t n; (n = converter_.MixFramesWanted()) > 0;) {
            MixBlock(mix, n);
            converter_.Push(mix.data(), n);
            written_ += n;
            mixed += n;
        }
        converter_.TakePeriod(out.data());
        if (!backend_->Write(out.data(), stop_)) {
            if (stopping_.load()) break;
            OnWriteFailed();
            fit();
            continue;
        }
        SetClock(clock_base_ + converter_.ToMixFrames(backend_->Played()));
        const uint32_t wait = pacer.After(mixed, Counter());
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
