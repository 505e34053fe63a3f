// Entry of the program: checks what it runs with, loads the language, then runs
// the whole user interface as one modal dialog and returns its result.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlwapi.h>

#include <cstdio>

#include "app/app_state.h"
#include "app/engine_version.h"
#include "app/main_window.h"
#include "app/res/resource.h"
#include "mivo.h"
#include "engine/include/bass.h"
#include "settings/language_manager.h"
#include "versions.h"

namespace {

constexpr int kRefused = 0;
constexpr DWORD kAllControlClasses = 0xFFFF;
// At least the library version this program is built and shipped with.
constexpr int kMivoMajor = MIVO_VERSION_MAJOR;
constexpr int kMivoMinor = MIVO_VERSION_MINOR;
constexpr int kMivoPatch = MIVO_VERSION_PATCH;
constexpr int kMivoShowsItsOwnBox = 0;
constexpr char kLanguageFolder[] = "lang";
constexpr char kSettingsFile[] = "orvantis.ini";

// Start-up failures are the few texts fixed in the program: without the right
// engine or the language library there is nothing to take texts from.
constexpr char kWrongEngineText[] = "Wrong version: BASS.DLL\n\nAbort";
constexpr char kNoLanguageText[] = "LANGUAGE NOT FOUND!\nPlease re-install the program\n\nAbort";

int Refuse(const char* text) {
    MessageBoxA(nullptr, text, g_plainCaption, MB_ICONERROR);
    return kRefused;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Never load a DLL from the current directory.
    SetDllDirectoryA("");

    GetModuleFileNameA(nullptr, g_programDir, kProgramDirSize);
    g_programDir[kProgramDirSize - 1] = '\0';
    PathRemoveFileSpecA(g_programDir);

    std::snprintf(g_versionedCaption, sizeof g_versionedCaption, "%s v%d.%d.%d", kProductName,
                  kVersionMajor, kVersionMinor, kVersionPatch);
    std::snprintf(g_plainCaption, sizeof g_plainCaption, "%s", kProductName);
    std::snprintf(g_settingsPath, sizeof g_settingsPath, "%s\\%s", g_programDir, kSettingsFile);

    g_instance = instance;

    INITCOMMONCONTROLSEX controls = {sizeof controls, kAllControlClasses};
    InitCommonControlsEx(&controls);

    // The taskbar button object lives in this apartment for the life of the process.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    if (!app::EngineVersionAccepted(BASS_GetVersion())) return Refuse(kWrongEngineText);

    if (!MIVO_VerVerify(kMivoMajor, kMivoMinor, kMivoPatch, kMivoShowsItsOwnBox)) return kRefused;
    if (!MIVO_SysOsVersion(MIVO_OS_NT)) return kRefused;

    g_language = new CLanguageManager(g_programDir, kLanguageFolder);
    if (!g_language->IsLoaded()) {
        ReleaseAndClear(g_language);
        return Refuse(kNoLanguageText);
    }

    const INT_PTR result =
        DialogBoxParamA(instance, MAKEINTRESOURCEA(DLG_MAIN), nullptr, MainWindowProc, 0);
    ReleaseAndClear(g_language);  // already released unless the dialog never started
    return static_cast<int>(result);
}
