// Where the mixer's 16-bit stereo blocks go: a sound device, or nowhere at the
// pace of a real one. Every backend reports how many frames have been heard,
// which keeps levels, spectrum and syncs in step with the sound.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace engine {

constexpr int kOutputChannels = 2;
// The mixer's thread and the outputs' own: ahead of everything else, as
// audio threads are.
constexpr int kAudioThreadPriority = THREAD_PRIORITY_TIME_CRITICAL;

// How much an output keeps queued: little while a stream starts, so it is
// heard at once; once it has played a second, enough to ride out a busy
// machine that holds the mixer back for a moment (a radio has no use for
// low latency). Counted in periods; a flush starts it again.
class QueueDepth {
public:
    QueueDepth(int start, int most, int grow_after) : start_(start), most_(most), grow_after_(grow_after) {}
    int periods() const { return written_ >= grow_after_ ? most_ : start_; }
    void Wrote() {
        if (written_ < grow_after_) ++written_;
    }
    void Restart() { written_ = 0; }

private:
    int start_;
    int most_;
    int grow_after_;
    int written_ = 0;
};

class OutputBackend {
public:
    virtual ~OutputBackend() = default;
    // Opens at `rate` or, where the device insists, at its own rate (Rate()).
    virtual bool Open(int rate) = 0;
    virtual int Rate() const = 0;
    // Frames the mixer hands over per Write.
    virtual int PeriodFrames() const = 0;
    // Queues one period; waits until the device has room or `stop` is set.
    // False when the device failed or stop was set, or gave no room back for
    // StuckMs(): the device is stuck.
    virtual bool Write(const int16_t* frames, HANDLE stop) = 0;
    virtual DWORD StuckMs() const = 0;
    // Frames played out so far.
    virtual uint64_t Played() = 0;
    // Stops the output and drops what it still holds, which then counts as
    // played; the next Write starts it again from empty.
    virtual void Flush() = 0;
    virtual void Close() = 0;
    // After Close: a handle the caller owns, signalled once the output has
    // let go of the device; null when Close did so before it returned.
    virtual HANDLE TakeClosing() { return nullptr; }
    virtual const char* Name() const = 0;
};

// Device 0: no sound, clocked by the performance counter.
std::unique_ptr<OutputBackend> MakeSilentOutput();
std::unique_ptr<OutputBackend> MakeWaveOutOutput();
std::unique_ptr<OutputBackend> MakeWasapiOutput();

// A sound output on a thread of its own, made and used only there, so no call
// into the system's audio code can hold the caller (under Wine one output's
// blocked device holds the other's calls as well). Open waits a bounded time;
// a Write waits for room at most the output's StuckMs (and a little more);
// Close lets go at once, while the thread closes the output and ends on its
// own, keeping the DLL loaded meanwhile. `kind` names the output for
// SoundOutputsRunning.
std::unique_ptr<OutputBackend> MakeThreadedOutput(std::function<std::unique_ptr<OutputBackend>()> make,
                                                  int kind);
// Whether a thread of a threaded output of `kind` still runs, in the whole
// process: opening that kind again may wait for its close.
bool SoundOutputsRunning(int kind);
// Waits up to `ms` until no threaded output runs.
void WaitForSoundOutputs(DWORD ms);

// Watches for a change of the default output device while it lives.
class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
};
// Sets `changed` whenever the default output device changes; null where the
// system cannot tell. Call with COM initialised on the thread.
std::unique_ptr<DeviceWatch> WatchDefaultDevice(HANDLE changed);

}  // namespace engine
