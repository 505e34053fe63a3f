// The library's own version and the minimum-version test, free of Win32 so it
// can be tested natively.
#pragma once

#include <cstddef>

namespace mivo {

constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 4;
constexpr int kVersionPatch = 0;
constexpr unsigned kVersionBuild = 355;

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
