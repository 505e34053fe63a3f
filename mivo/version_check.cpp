#include "version_check.h"

#include <cstdio>

namespace mivo {

bool VersionSatisfies(int major, int minor, int patch) {
    if (major != kVersionMajor) return major < kVersionMajor;
    if (minor != kVersionMinor) return minor < kVersionMinor;
    return patch <= kVersionPatch;
}

void FormatVersionCaption(char* out, std::size_t size) {
    std::snprintf(out, size, "%s v%d.%d.%d", kLibraryFileName, kVersionMajor, kVersionMinor,
                  kVersionPatch);
}

void FormatVersionMessage(char* out, std::size_t size, int major, int minor, int patch) {
    std::snprintf(out, size,
                  "ERROR!\n\nWrong version of %s\nYou need at least v%d.%d.%d, but this is v%d.%d.%d",
                  kLibraryFileName, major, minor, patch, kVersionMajor, kVersionMinor,
                  kVersionPatch);
}

}  // namespace mivo
