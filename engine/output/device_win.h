// One output device: a mixer thread that pulls every playing stream into the
// backend, and a notifier thread that runs the streams' sync callbacks once
// the audio they belong to is heard. Callbacks never run on the mixer thread,
// so a slow callback cannot make the sound stutter.
//
// The output is fed only while a stream plays: with nothing to play it is
// flushed and left idle, so a stream that starts is heard at once, not behind
// queued silence. When a write to the sound device fails, the device is
// opened again (at once, then with bounded retries and whenever the default
// device changes); meanwhile the silent output keeps the clock, so levels,
// syncs and the end go on.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/output/backend_win.h"
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
    int rate() const { return rate_; }  // the output's, fixed once started
    DeviceState state() const;
    const char* backend_name() const { return backend_name_.load(); }
    // Frames heard so far on the device's clock: the output's last report,
    // carried forward in real time, never beyond what the output was given.
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
    bool OpenSound();  // the default device, at the rate the device runs at
    void UseSilent();
    void OnWriteFailed();
    bool Reopen();     // back from the silent stand-in when a retry is due
    void CloseAside(std::unique_ptr<OutputBackend> backend);
    bool FinishClosing(DWORD ms);  // true once no close is running
    static DWORD WINAPI CloserMain(void* backend);
    DWORD ReopenWaitMs() const;
    static DWORD WINAPI MixerMain(void* self);
    static DWORD WINAPI NotifierMain(void* self);
    void MixLoop();
    void NotifyLoop();
    void MixBlock(std::vector<float>& mix, std::vector<int16_t>& out, int frames);
    void SetClock(uint64_t played);

    // Mixer thread only, after the start.
    std::unique_ptr<OutputBackend> backend_;
    std::unique_ptr<DeviceWatch> watch_;
    bool sound_ = false;  // backend_ is the sound device, not the silent stand-in
    bool rate_fixed_ = false;  // streams play at rate_: a reopened output must take it
    int reopen_attempts_ = 0;
    int64_t next_reopen_ = 0;
    uint64_t clock_base_ = 0;  // frames of earlier backends
    HANDLE closer_ = nullptr;  // closes a failed output off the mixer thread
    int sound_opened_ = 0;     // sound backends opened so far

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
