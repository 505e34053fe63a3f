// Shared-mode WASAPI output.
#include "engine/output/backend_win.h"

namespace engine {

// NOT YET BUILT: WASAPI shared mode. Until it is, the device opens waveOut,
// which reaches the same mixer on every Windows (and on Wine).
std::unique_ptr<OutputBackend> MakeWasapiOutput() { return nullptr; }

}  // namespace engine
