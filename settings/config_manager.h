// The settings store: single keys of one section of a private-profile INI
// file, each access under the store's lock.
#pragma once

#include <windows.h>

#include "settings/ref_count.h"

class CConfigManager : public IRefCount {
public:
    explicit CConfigManager(const char* path);

    // Every later access goes to this section; answers true.
    bool SelectSection(const char* name);

    // Off without a section; on exactly when the key reads as the integer 1.
    bool ReadBool(const char* key);
    // 0.0 without a section or when the value does not begin with a number.
    double ReadFloat(const char* key);
    // "%f" of the value; false without a section or when the write failed.
    bool WriteFloat(const char* key, double value);
    // "0" or "1"; false without a section or when the write failed.
    bool WriteBool(const char* key, bool value);

    bool LockReady() const { return lockReady_; }

protected:
    ~CConfigManager() override;

private:
    bool WriteText(const char* key, const char* text);

    char* path_ = nullptr;
    char* section_ = nullptr;
    bool lockReady_ = false;
    CRITICAL_SECTION lock_;
};
