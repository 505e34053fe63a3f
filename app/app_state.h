// Process-wide state of the program, set up by the entry function (and by
// static initialisation) and read by the windows.
#pragma once

#include <windows.h>

#include "settings/options.h"
#include "versions.h"

class CLanguageManager;

constexpr size_t kProgramDirSize = 520;
constexpr size_t kCaptionSize = 128;
constexpr size_t kSettingsPathSize = 2048;

constexpr char kProductName[] = "Orvantis";
constexpr int kVersionMajor = ORVANTIS_VERSION_MAJOR;
constexpr int kVersionMinor = ORVANTIS_VERSION_MINOR;
constexpr int kVersionPatch = ORVANTIS_VERSION_PATCH;
constexpr int kBuildNumber = ORVANTIS_VERSION_BUILD;

extern HINSTANCE g_instance;
extern char g_programDir[kProgramDirSize];       // no trailing backslash
extern char g_versionedCaption[kCaptionSize];   // "Orvantis v3.3.1": window title
extern char g_plainCaption[kCaptionSize];       // "Orvantis": message boxes
extern char g_settingsPath[kSettingsPathSize];  // <program directory>\orvantis.ini
extern CLanguageManager* g_language;            // released by the main window
extern Options g_options;                       // loaded and saved by the main window

// Set before the entry function runs.
extern const UINT g_taskbarButtonCreatedMessage;
extern const DWORD g_osMajor;
extern const DWORD g_osMinor;
