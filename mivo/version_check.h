// The library's own version and the minimum-version test, free of Win32 so it
// can be tested natively.
#pragma once

#include <cstddef>

#include "versions.h"

namespace mivo {

constexpr int kVersionMajor = MIVO_VERSION_MAJOR;
constexpr int kVersionMinor = MIVO_VERSION_MINOR;
constexpr int kVersionPatch = MIVO_VERSION_PATCH;
constexpr unsigned kVersionBuild = MIVO_VERSION_BUILD;

#if defined(_WIN64) || !defined(_WIN32)
constexpr const char kLibraryFileName[] = "Mivo64.dll";
#else
constexpr const char kLibraryFileName[] = "Mivo32.dll";
#endif

// Sizes of the two texts of the "wrong version" box.
constexpr std::size_t kVersionCaptionSize = 32;
constexpr std::size_t kVersionMessageSize = 512;

// True when a caller asking for at least (major, minor, patch) is served by
// this library: the request is not above our version in lexicographic order.
bool VersionSatisfies(int major, int minor, int patch);

// Caption "Mivo64.dll v3.4.0" of the box shown for a request we cannot serve.
void FormatVersionCaption(char* out, std::size_t size);

// Four-line text of that box, naming the requested and our own version.
void FormatVersionMessage(char* out, std::size_t size, int major, int minor, int patch);

}  // namespace mivo
