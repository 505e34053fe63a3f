// Things that load slowly the first time a process uses them (the TLS
// provider and trusted roots, the system's AAC decoder: under Wine a few
// hundred milliseconds each) are loaded on a thread of their own at
// start-up, so the first station of their kind does not wait for them.
#pragma once

#include <windows.h>

namespace engine {

class WarmUpThread {
public:
    using Work = void (*)();

    WarmUpThread() = default;
    ~WarmUpThread() { Join(); }
    WarmUpThread(const WarmUpThread&) = delete;
    WarmUpThread& operator=(const WarmUpThread&) = delete;

    // Runs `work` on a thread that keeps bass.dll loaded until it ends.
    void Start(Work work);
    // Waits a moment for the thread; one that is still loading is left to
    // finish on its own (it touches nothing but what it loads).
    void Join();

private:
    HANDLE thread_ = nullptr;
};

}  // namespace engine
