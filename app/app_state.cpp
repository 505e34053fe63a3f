#include "app/app_state.h"

HINSTANCE g_instance = nullptr;
char g_programDir[kProgramDirSize] = {};
char g_versionedCaption[kCaptionSize] = {};
char g_plainCaption[kCaptionSize] = {};
char g_settingsPath[kSettingsPathSize] = {};
CLanguageManager* g_language = nullptr;
Options g_options;

// The taskbar announces a (re)created button with this message; it must be
// known before the main window can receive it.
const UINT g_taskbarButtonCreatedMessage = RegisterWindowMessageA("TaskbarButtonCreated");

namespace {
const DWORD kVersion = GetVersion();
}  // namespace

const DWORD g_osMajor = LOBYTE(LOWORD(kVersion));
const DWORD g_osMinor = HIBYTE(LOWORD(kVersion));
