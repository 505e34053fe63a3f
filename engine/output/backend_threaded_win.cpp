// A sound output served by a thread of its own. The caller and the thread
// share one slot of a period: the caller fills it, the thread takes it and
// writes it to the output while the caller mixes the next one. Everything the
// thread touches is its own or shared through a reference it holds, so it may
// outlive the caller, and the engine, when the output hangs.
#include "engine/output/backend_win.h"

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

namespace engine {

namespace {

// An output that has not opened by then is given up (the first open in a
// process loads the system's audio code, which takes a while under Wine).
constexpr DWORD kOpenLimitMs = 3000;
// Beyond the output's own stuck limit, for the thread to report it.
constexpr DWORD kReportMarginMs = 100;
constexpr int kMaxKinds = 4;

// Threads of threaded outputs still running, by kind, in the whole process.
class RunningOutputs {
public:
    void Begin(int kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_[kind];
    }
    void End(int kind) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_[kind];
        }
        ended_.notify_all();
    }
    bool Any(int kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_[kind] > 0;
    }
    void Wait(DWORD ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] {
            return std::all_of(std::begin(running_), std::end(running_), [](int n) { return n == 0; });
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int running_[kMaxKinds] = {};
};
RunningOutputs g_running;

// What the caller and the output's thread share.
struct Lane {
    Lane() {
        work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        answer = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        quit_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Lane() {
        for (HANDLE h : {work, answer, quit_event}) {
            if (h) CloseHandle(h);
        }
    }
    bool ok() const { return work && answer && quit_event; }

    std::function<std::unique_ptr<OutputBackend>()> make;
    int kind = 0;
    int rate_wanted = 0;
    HMODULE module = nullptr;
    HANDLE work;        // to the thread: a period, a flush or the end
    HANDLE answer;      // to the caller: opened, room, flushed or failed
    HANDLE quit_event;  // ends the output's own waits

    std::mutex mutex;
    // Set by the thread once the output opened (or did not).
    bool open_done = false;
    bool open_ok = false;
    int rate = 0;
    int period = 0;
    DWORD stuck_ms = 0;
    const char* name = "";
    std::vector<int16_t> slot;
    bool slot_full = false;
    bool flush_asked = false;
    uint64_t flushes = 0;
    bool failed = false;  // a write failed: the output is stuck or gone
    bool quit = false;
    uint64_t played = 0;
};

// Opens, then serves periods and flushes until told to quit.
void Serve(Lane& lane, OutputBackend& out) {
    std::vector<int16_t> period(lane.slot.size());
    std::unique_lock<std::mutex> lock(lane.mutex);
    for (;;) {
        // A failed output takes nothing more: it waits to be closed.
        while (!lane.quit && (lane.failed || (!lane.flush_asked && !lane.slot_full))) {
            lock.unlock();
            WaitForSingleObject(lane.work, INFINITE);
            lock.lock();
        }
        if (lane.quit) return;
        if (lane.flush_asked) {
            lock.unlock();
            out.Flush();
            const uint64_t played = out.Played();
            lock.lock();
            lane.played = played;
            lane.flush_asked = false;
            ++lane.flushes;
            SetEvent(lane.answer);
            continue;
        }
        std::copy(lane.slot.begin(), lane.slot.end(), period.begin());
        lane.slot_full = false;
        lock.unlock();
        SetEvent(lane.answer);
        const bool ok = out.Write(period.data(), lane.quit_event);
        const uint64_t played = ok ? out.Played() : 0;
        lock.lock();
        if (ok) {
            lane.played = played;
        } else {
            lane.failed = true;
            SetEvent(lane.answer);
        }
    }
}

HMODULE RunLane(std::shared_ptr<Lane>* param) {
    std::shared_ptr<Lane> lane = std::move(*param);
    delete param;
    SetThreadPriority(GetCurrentThread(), kAudioThreadPriority);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_ptr<OutputBackend> out = lane->make();
    const bool ok = out && out->Open(lane->rate_wanted);
    {
        std::lock_guard<std::mutex> lock(lane->mutex);
        lane->open_done = true;
        lane->open_ok = ok;
        if (ok) {
            lane->rate = out->Rate();
            lane->period = out->PeriodFrames();
            lane->stuck_ms = out->StuckMs();
            lane->name = out->Name();
            lane->slot.assign(static_cast<size_t>(lane->period) * kOutputChannels, 0);
        }
    }
    SetEvent(lane->answer);
    if (ok) Serve(*lane, *out);
    if (out) out->Close();
    out.reset();
    if (SUCCEEDED(com)) CoUninitialize();
    const HMODULE module = lane->module;
    g_running.End(lane->kind);
    return module;
}

DWORD WINAPI LaneMain(void* param) {
    // The engine, and its hold on the DLL, may be gone by now.
    FreeLibraryAndExitThread(RunLane(static_cast<std::shared_ptr<Lane>*>(param)), 0);
    return 0;
}

class ThreadedOutput final : public OutputBackend {
public:
    ThreadedOutput(std::function<std::unique_ptr<OutputBackend>()> make, int kind)
        : lane_(std::make_shared<Lane>()) {
        lane_->make = std::move(make);
        lane_->kind = kind;
    }
    ~ThreadedOutput() override {
        Close();
        if (thread_) CloseHandle(thread_);
    }

    bool Open(int rate) override {
        if (!lane_->ok() || lane_->kind < 0 || lane_->kind >= kMaxKinds) return false;
        lane_->rate_wanted = rate;
        // The thread holds the DLL: it may end after the engine was freed.
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&g_running), &lane_->module))
            return false;
        g_running.Begin(lane_->kind);
        auto* param = new std::shared_ptr<Lane>(lane_);
        thread_ = CreateThread(nullptr, 0, LaneMain, param, 0, nullptr);
        if (!thread_) {
            delete param;
            g_running.End(lane_->kind);
            FreeLibrary(lane_->module);
            return false;
        }
        const bool answered = AwaitAnswer(kOpenLimitMs, nullptr, [this] { return lane_->open_done; });
        std::lock_guard<std::mutex> lock(lane_->mutex);
        if (!answered || !lane_->open_ok) return false;
        rate_ = lane_->rate;
        period_ = lane_->period;
        stuck_ms_ = lane_->stuck_ms;
        name_ = lane_->name;
        return true;
    }

    int Rate() const override { return rate_; }
    int PeriodFrames() const override { return period_; }
    DWORD StuckMs() const override { return stuck_ms_; }
    const char* Name() const override { return name_; }

    bool Write(const int16_t* frames, HANDLE stop) override {
        if (broken_) return false;
        // The slot frees as soon as the thread takes the last period; it does
        // not while the output gives no room back, nor while a call into the
        // system's audio code hangs.
        if (!AwaitAnswer(stuck_ms_ + kReportMarginMs, stop,
                         [this] { return lane_->failed || !lane_->slot_full; })) {
            broken_ = WaitForSingleObject(stop, 0) != WAIT_OBJECT_0;
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(lane_->mutex);
            if (lane_->failed) {
                broken_ = true;
                return false;
            }
            std::memcpy(lane_->slot.data(), frames, lane_->slot.size() * sizeof(int16_t));
            lane_->slot_full = true;
        }
        SetEvent(lane_->work);
        return true;
    }

    uint64_t Played() override {
        std::lock_guard<std::mutex> lock(lane_->mutex);
        return lane_->played;
    }

    void Flush() override {
        if (broken_) return;
        uint64_t done;
        {
            std::lock_guard<std::mutex> lock(lane_->mutex);
            lane_->slot_full = false;
            lane_->flush_asked = true;
            done = lane_->flushes + 1;
        }
        SetEvent(lane_->work);
        // An output that does not answer is as good as stuck.
        if (!AwaitAnswer(stuck_ms_ + kReportMarginMs, nullptr,
                         [&] { return lane_->failed || lane_->flushes >= done; }))
            broken_ = true;
    }

    void Close() override {
        if (!thread_ || closed_) return;
        closed_ = true;
        {
            std::lock_guard<std::mutex> lock(lane_->mutex);
            lane_->quit = true;
        }
        SetEvent(lane_->quit_event);
        SetEvent(lane_->work);
    }

    HANDLE TakeClosing() override {
        HANDLE h = nullptr;
        if (!thread_ || !DuplicateHandle(GetCurrentProcess(), thread_, GetCurrentProcess(), &h, 0,
                                         FALSE, DUPLICATE_SAME_ACCESS))
            return nullptr;
        return h;
    }

private:
    // Waits until `done` holds (checked under the lane's lock), `stop` is set
    // or `ms` ran out; true when done.
    template <typename Done>
    bool AwaitAnswer(DWORD ms, HANDLE stop, Done done) {
        const ULONGLONG end = GetTickCount64() + ms;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(lane_->mutex);
                if (done()) return true;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= end) return false;
            HANDLE waits[2] = {lane_->answer, stop};
            const DWORD r = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE,
                                                   static_cast<DWORD>(end - now));
            if (r == WAIT_OBJECT_0 + 1) return false;
        }
    }

    std::shared_ptr<Lane> lane_;
    HANDLE thread_ = nullptr;
    bool closed_ = false;
    bool broken_ = false;  // stuck: nothing more goes to the thread
    int rate_ = 0;
    int period_ = 0;
    DWORD stuck_ms_ = 0;
    const char* name_ = "";
};

}  // namespace

std::unique_ptr<OutputBackend> MakeThreadedOutput(std::function<std::unique_ptr<OutputBackend>()> make,
                                                  int kind) {
    return std::make_unique<ThreadedOutput>(std::move(make), kind);
}

bool SoundOutputsRunning(int kind) { return kind >= 0 && kind < kMaxKinds && g_running.Any(kind); }

void WaitForSoundOutputs(DWORD ms) { g_running.Wait(ms); }

}  // namespace engine
