#include "engine/net/blocking_call_win.h"

#include <memory>
#include <utility>

#include "engine/net/socket_win.h"

namespace engine {

namespace {

// What the caller and the call's thread share; whichever lets go last frees it.
struct Call {
    explicit Call(std::function<void()> f)
        : work(std::move(f)), done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Call() {
        if (done) CloseHandle(done);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    std::function<void()> work;
    HANDLE done;
};

// Handed to the thread, which deletes it.
struct Start {
    std::shared_ptr<Call> call;
    HMODULE module;  // a reference of the thread's own to this DLL
};

void Run(Start* start) {
    std::unique_ptr<Start> owned(start);
    owned->call->work();
    SetEvent(owned->call->done);
}

DWORD WINAPI CallMain(void* param) {
    HMODULE module = static_cast<Start*>(param)->module;
    Run(static_cast<Start*>(param));  // everything of the call is gone here
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

int RunBlockingCall(std::function<void()> work, const std::vector<HANDLE>& cancel,
                    DWORD timeoutMs) {
    auto call = std::make_shared<Call>(std::move(work));
    if (!call->done) return kSocketError;
    // Taken here, not on the thread: the DLL may be on its way out by the
    // time a thread we walked away from starts.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&CallMain), &module))
        return kSocketError;
    auto* start = new Start{call, module};
    HANDLE thread = CreateThread(nullptr, 0, CallMain, start, 0, nullptr);
    if (!thread) {
        delete start;
        FreeLibrary(module);
        return kSocketError;
    }
    CloseHandle(thread);

    return WaitOrCancel(call->done, cancel, timeoutMs);
}

}  // namespace engine
