// One output device: a mixer thread that pulls every playing stream into the
// backend, and a notifier thread that runs the streams' sync callbacks once
// the audio they belong to is heard. Callbacks never run on the mixer thread,
// so a slow callback cannot make the sound stutter.
//
// The output is fed only while a stream plays: with nothing to play it is
// flushed and left idle, so a stream that starts is heard at once, not behind
// queued silence. A sound device found stuck is closed on a thread of its own
// (its close may hang as well) and the other kind of sound output is opened
// at once; the mix keeps its rate and is resampled for an output that runs at
// another. Where none opens, the silent output keeps the clock, so levels,
// syncs and the end go on, and the sound device is tried again with bounded
// retries and whenever the default device changes. A change of the default
// device while nothing plays moves the output to it. A close that does not
// end in time is left behind, never waited for at the end.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/output/backend_win.h"
#include "engine/output/output_converter.h"
#include "engine/output/output_faults_win.h"

namespace engine {

class Stream;

// Something the notifier runs on its own thread, outside every engine lock.
struct Notification {
    std::shared_ptr<Stream> stream;
    int sync_type = 0;
};

// Events queued for the notifier at most; one of a stream and kind is enough,
// as a callback reads the newest tags.
constexpr size_t kMaxQueuedNotifications = 256;

// stopped -> starting -> started -> stopping -> stopped
enum class DeviceState { Stopped, Starting, Started, Stopping };

class Device : public std::enable_shared_from_this<Device> {
public:
    // device 0 is "no sound"; -1 and 1 are the default output.
    static std::shared_ptr<Device> Open(int device, int rate, int* error);
    ~Device();

    void Stop();
    int rate() const { return rate_; }  // the mix's, fixed once started
    DeviceState state() const;
    const char* backend_name() const { return backend_name_.load(); }
    // Frames heard so far on the device's clock: the output's last report,
    // carried forward in real time, never beyond what was mixed.
    uint64_t Played() const;

    // False once the device is stopping.
    bool Attach(const std::shared_ptr<Stream>& stream);
    // After Detach returns the mixer no longer touches the stream, and no
    // callback of it is queued or, unless called from a callback, running;
    // none starts later.
    void Detach(Stream* stream);
    void Notify(Notification n);
    bool OnNotifierThread() const { return GetCurrentThreadId() == notifier_id_; }

private:
    Device() = default;
    bool Start(int device, int rate);
    void Teardown();
    // Mixer thread.
    bool OpenSound();  // a sound output for the mix, the preferred kind first
    void UseSilent();
    void OnWriteFailed();
    // The sound output goes aside to be closed and the silent one stands in;
    // another is not opened while the close runs, for `grace_ms` at most.
    void LetGo(DWORD grace_ms);
    bool Reopen();  // back from the silent stand-in when a retry is due
    void CloseAside(std::unique_ptr<OutputBackend> backend, int kind);
    void ReapClosers();
    bool Closing() const;  // a close of this device's still runs
    // Waits up to `ms` for the closes still running, then leaves them behind.
    void LeaveClosers(DWORD ms);
    DWORD ReopenWaitMs() const;
    static DWORD WINAPI MixerMain(void* self);
    static DWORD WINAPI NotifierMain(void* self);
    void MixLoop();
    void NotifyLoop();
    void MixBlock(std::vector<float>& mix, size_t frames);
    void SetClock(uint64_t played);

    // Kinds of sound output, in the order they are tried: waveOut, WASAPI.
    static constexpr int kSoundKinds = 2;

    // Mixer thread only, after the start.
    std::unique_ptr<OutputBackend> backend_;
    std::unique_ptr<DeviceWatch> watch_;
    OutputConverter converter_;
    bool sound_ = false;  // backend_ is a sound output, not the silent stand-in
    int kind_ = 0;        // of backend_ when sound_
    int preferred_ = 0;   // the kind tried first when opening
    bool rate_fixed_ = false;  // streams play at rate_, whatever the output's
    bool change_pending_ = false;  // the default device changed; taken when idle
    int reopen_attempts_ = 0;
    int64_t next_reopen_ = 0;
    int64_t close_grace_end_ = 0;
    uint64_t clock_base_ = 0;  // mixed frames the output's own count leaves out
    HANDLE closers_[kSoundKinds] = {};  // closes of outputs let go of, by kind
    int sound_opened_ = 0;  // sound outputs opened so far

    std::atomic<const char*> backend_name_{""};
    int device_ = 0;
    int rate_ = 44100;
    OutputFaults faults_;  // none outside the tests
    HANDLE opened_ = nullptr;   // the mixer thread tried to open the output
    bool open_ok_ = false;
    mutable std::mutex state_mutex_;
    DeviceState state_ = DeviceState::Stopped;
    HANDLE stop_ = nullptr;
    std::atomic<bool> stopping_{false};  // set with stop_; asked once a block
    HANDLE work_ = nullptr;            // a stream was attached
    HANDLE device_changed_ = nullptr;  // the default output device changed
    HANDLE mixer_ = nullptr;
    HANDLE notifier_ = nullptr;
    DWORD notifier_id_ = 0;
    int64_t counter_frequency_ = 1;

    mutable std::mutex clock_mutex_;
    uint64_t played_ = 0;
    int64_t played_at_ = 0;  // performance counter of that report
    std::atomic<uint64_t> written_{0};

    std::mutex mix_mutex_;
    std::vector<std::shared_ptr<Stream>> streams_;

    std::mutex notify_mutex_;
    std::deque<Notification> queue_;
    Stream* in_flight_ = nullptr;
    HANDLE wake_ = nullptr;  // work for the notifier
    HANDLE idle_ = nullptr;  // a callback finished
    bool notifier_quit_ = false;
};

// Waits for handle, still answering messages other threads send to this one,
// so a callback that talks to the caller's window cannot deadlock a free.
void WaitPumping(HANDLE handle);

}  // namespace engine
