// Library frame: loader entry point and the version exports (ordinals 1 and 2).
#include "mivo.h"

#include "library.h"
#include "version_check.h"

namespace {

HINSTANCE g_instance = nullptr;

}  // namespace

namespace mivo {

HINSTANCE LibraryInstance() { return g_instance; }

}  // namespace mivo

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    // The first notification is the process attach; later ones never change the handle.
    if (g_instance == nullptr) g_instance = instance;
    return TRUE;
}

MIVO_API void WINAPI MIVO_VerGetInformation(MIVO_VerInfo* info) {
    if (info == nullptr) return;
    info->major = mivo::kVersionMajor;
    info->minor = mivo::kVersionMinor;
    info->patch = mivo::kVersionPatch;
    info->build = mivo::kVersionBuild;
}

MIVO_API int WINAPI MIVO_VerVerify(int major, int minor, int patch, int silent) {
    if (mivo::VersionSatisfies(major, minor, patch)) return 1;
    if (silent != 0) return 0;

    char caption[mivo::kVersionCaptionSize] = {};
    char message[mivo::kVersionMessageSize] = {};
    mivo::FormatVersionCaption(caption, sizeof caption);
    mivo::FormatVersionMessage(message, sizeof message, major, minor, patch);
    MessageBoxA(nullptr, message, caption, MB_OK | MB_ICONSTOP);
    return 0;
}
