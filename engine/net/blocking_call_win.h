// A system call that cannot be cancelled (a name lookup; building a
// certificate chain, which may fetch an issuer over the network) run on a
// thread of its own, so that the caller's cancel events and deadline can walk
// away from it. A call walked away from runs to its end by itself: it must
// own everything it touches (its captures), never the caller's objects, and
// it keeps bass.dll loaded until it is done, since it may outlive the engine.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace engine {

// kSocketOk once `call` returned; kSocketCancelled when one of `cancel` was
// set first, kSocketTimeout when timeoutMs passed first (the call then goes
// on alone); kSocketError when no thread could be made for it.
int RunBlockingCall(std::function<void()> call, const std::vector<HANDLE>& cancel,
                    DWORD timeoutMs);

}  // namespace engine
