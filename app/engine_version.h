// Which audio engine versions the program runs with. No windows.h.
#pragma once

#include <cstdint>

#include "versions.h"

namespace app {

constexpr uint32_t kRequiredEngineVersion = BASS_INTERFACE_VERSION;  // any revision and build

// version is BASS_GetVersion's word: major, minor, revision, build from the top byte down.
constexpr bool EngineVersionAccepted(uint32_t version) {
    return ((version >> 16) & 0xFFFF) == kRequiredEngineVersion;
}

}  // namespace app
