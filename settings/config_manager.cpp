#include "settings/config_manager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "settings/ini_value.h"
#include "settings/lock_guard.h"

namespace {

// The high bit asks for the lock's event to be made up front, so entering it
// can never fail for want of memory later.
constexpr DWORD kLockSpinCount = 0x80000400;
constexpr size_t kValueBufferSize = 128;
constexpr char kFloatDefault[] = "0.0000";

}  // namespace

CConfigManager::CConfigManager(const char* path) : path_(DuplicateString(path)) {
    lockReady_ = InitializeCriticalSectionAndSpinCount(&lock_, kLockSpinCount) != FALSE;
}

CConfigManager::~CConfigManager() {
    if (lockReady_) DeleteCriticalSection(&lock_);
    std::free(section_);
    std::free(path_);
}

bool CConfigManager::SelectSection(const char* name) {
    std::free(section_);
    section_ = DuplicateString(name);
    return true;
}

bool CConfigManager::ReadBool(const char* key) {
    if (!section_ || !path_) return false;
    UINT value;
    {
        LockGuard guard(&lock_);
        value = GetPrivateProfileIntA(section_, key, 0, path_);
    }
    return settings::IniIntIsOn(value);
}

double CConfigManager::ReadFloat(const char* key) {
    if (!section_ || !path_) return 0.0;
    char text[kValueBufferSize] = {};
    {
        LockGuard guard(&lock_);
        GetPrivateProfileStringA(section_, key, kFloatDefault, text, sizeof text, path_);
    }
    return settings::ParseIniFloat(text);
}

bool CConfigManager::WriteFloat(const char* key, double value) {
    if (!section_) return false;
    char text[kValueBufferSize] = {};
    if (!settings::FormatIniFloat(value, text, sizeof text)) return false;
    return WriteText(key, text);
}

bool CConfigManager::WriteBool(const char* key, bool value) {
    if (!section_) return false;
    char text[kValueBufferSize] = {};
    std::snprintf(text, sizeof text, "%d", value ? 1 : 0);
    return WriteText(key, text);
}

bool CConfigManager::WriteText(const char* key, const char* text) {
    if (!path_) return false;
    LockGuard guard(&lock_);
    return WritePrivateProfileStringA(section_, key, text, path_) != FALSE;
}
