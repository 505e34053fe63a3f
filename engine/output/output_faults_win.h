// Faults the Wine tests inject into the sound device, since they reach the
// engine through its exports only. Compiled in where ORVANTIS_OUTPUT_FAULTS is
// defined (every build but the release one); a release build never reads the
// variable. Read once at BASS_Init from the environment variable
// ORVANTIS_OUTPUT_FAULTS, a comma-separated list of:
//   stall=MS      the first sound backend opened stops playing MS ms after its
//                 first period and hands nothing back, as a hung card does:
//                 its writes wait as long as the backend's own limit, then fail
//   close-blocks  closing a sound backend lets the device go, then does not
//                 return until the variable changes (the test's end lifts it)
//   change        a change of the default device is signalled once, at once
//                 after the open
#pragma once

#include <memory>
#include <string>

#include "engine/output/backend_win.h"

namespace engine {

struct OutputFaults {
    std::string list;   // the variable as read
    int stall_ms = -1;  // -1: never
    bool close_blocks = false;
    bool signal_change = false;
};

#ifdef ORVANTIS_OUTPUT_FAULTS
OutputFaults ReadOutputFaults();
// The backend, behind the faults that apply to it.
std::unique_ptr<OutputBackend> WithFaults(std::unique_ptr<OutputBackend> backend,
                                          const OutputFaults& faults, bool first);
#else
inline OutputFaults ReadOutputFaults() { return {}; }
inline std::unique_ptr<OutputBackend> WithFaults(std::unique_ptr<OutputBackend> backend,
                                                 const OutputFaults&, bool) {
    return backend;
}
#endif

}  // namespace engine
