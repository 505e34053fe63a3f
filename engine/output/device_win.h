// One output device: a mixer thread that pulls every playing stream into the
// backend, and a notifier thread that runs the streams' sync callbacks once
// the audio they belong to is heard. Callbacks never run on the mixer thread,
// so a slow callback cannot make the sound stutter.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/output/backend_win.h"

namespace engine {

class Stream;

// Something the notifier runs on its own thread, outside every engine lock.
struct Notification {
    std::shared_ptr<Stream> stream;
    int sync_type = 0;
};

// stopped -> starting -> started -> stopping -> stopped
enum class DeviceState { Stopped, Starting, Started, Stopping };

class Device : public std::enable_shared_from_this<Device> {
public:
    // device 0 is "no sound"; -1 and 1 are the default output.
    static std::shared_ptr<Device> Open(int device, int rate, int* error);
    ~Device();

    void Stop();
    int rate() const { return rate_; }  // the output's, fixed once started
    DeviceState state() const { return state_.load(); }
    const char* backend_name() const { return backend_name_; }
    // Frames heard so far on the device's clock: the output's last report,
    // carried forward in real time, never beyond what the output was given.
    uint64_t Played() const;

    void Attach(const std::shared_ptr<Stream>& stream);
    // After Detach returns the mixer no longer touches the stream, and no
    // callback of it is queued or, unless called from a callback, running.
    void Detach(Stream* stream);
    void Notify(Notification n);
    bool OnNotifierThread() const { return GetCurrentThreadId() == notifier_id_; }

private:
    Device() = default;
    bool Start(int device, int rate);
    bool OpenBackend();  // on the mixer thread
    static DWORD WINAPI MixerMain(void* self);
    static DWORD WINAPI NotifierMain(void* self);
    void MixLoop();
    void NotifyLoop();
    void MixBlock(std::vector<float>& mix, std::vector<int16_t>& out, int frames);
    void Pace(int frames);

    std::unique_ptr<OutputBackend> backend_;
    const char* backend_name_ = "";
    int device_ = 0;
    int rate_ = 44100;
    HANDLE opened_ = nullptr;   // the mixer thread tried to open the output
    bool open_ok_ = false;
    std::atomic<DeviceState> state_{DeviceState::Stopped};
    HANDLE stop_ = nullptr;
    HANDLE mixer_ = nullptr;
    HANDLE notifier_ = nullptr;
    DWORD notifier_id_ = 0;
    std::atomic<uint64_t> played_{0};
    std::atomic<int64_t> played_at_{0};  // performance counter of that report
    std::atomic<uint64_t> written_{0};
    int64_t counter_frequency_ = 1;
    // Wall-clock pacing for outputs without a clock (mixer thread only).
    int64_t window_start_ = 0;
    uint64_t window_frames_ = 0;
    bool unclocked_ = false;
    int64_t pace_start_ = 0;
    uint64_t pace_frames_ = 0;
    uint64_t clock_base_ = 0;  // frames of earlier backends, after a fallback

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
