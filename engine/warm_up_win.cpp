#include "engine/warm_up_win.h"

#include <new>

namespace engine {

namespace {

constexpr DWORD kJoinWaitMs = 500;  // what Join waits at most

struct Start {
    WarmUpThread::Work work;
    HMODULE module;  // the thread's own reference to this DLL
};

DWORD WINAPI WarmUpMain(void* param) {
    const Start start = *static_cast<Start*>(param);
    delete static_cast<Start*>(param);
    start.work();
    FreeLibraryAndExitThread(start.module, 0);
}

}  // namespace

void WarmUpThread::Start(Work work) {
    if (thread_) return;
    // Taken here: the engine, and with it its hold on the DLL, may be gone
    // before the thread ends.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&WarmUpMain), &module))
        return;
    auto* start = new (std::nothrow) engine::Start{work, module};
    if (start) thread_ = CreateThread(nullptr, 0, WarmUpMain, start, 0, nullptr);
    if (!thread_) {
        delete start;
        FreeLibrary(module);
    }
}

void WarmUpThread::Join() {
    if (!thread_) return;
    WaitForSingleObject(thread_, kJoinWaitMs);
    CloseHandle(thread_);
    thread_ = nullptr;
}

}  // namespace engine
