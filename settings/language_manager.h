// The language manager: one language resource library chosen at start-up,
// its texts handed out by ID (narrow and wide, each cached for the life of
// the manager) and its menus.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "common/scoped_handle.h"
#include "settings/ref_count.h"

class CLanguageManager : public IRefCount {
public:
    // Loads dir\sub\1031.dll on a German system (by its default language),
    // dir\sub\1033.dll otherwise. Never fails as such: see IsLoaded.
    CLanguageManager(const char* programDir, const char* subDir);
    // The same choice made for the given language instead of the system's.
    CLanguageManager(const char* programDir, const char* subDir, LANGID language);

    bool IsLoaded() const { return static_cast<bool>(library_); }

    // The text, owned by the manager and valid until it is destroyed; null
    // when the library has no such string (asked again next time). Safe to
    // call from several threads.
    const char* GetString(int32_t id);
    const wchar_t* GetWideString(int32_t id);

    // Loads a menu of the library (low 16 bits of id). The manager keeps the
    // menu it loaded last and destroys it when the next one is loaded.
    HMENU LoadMenu(UINT id);

    // How many texts have been loaded and kept so far, narrow and wide.
    size_t CachedStringCount();

protected:
    ~CLanguageManager() override;

private:
    static constexpr size_t kLoadBufferSize = 2048;

    const char* GetStringLocked(int32_t id);

    ScopedModule library_;
    HMENU menu_ = nullptr;
    // First-time look-ups come from the UI thread, the play thread and the
    // engine's callbacks; one lock covers both caches and the load buffer.
    CRITICAL_SECTION lock_;
    std::map<int32_t, std::string> strings_;
    std::map<int32_t, std::wstring> wideStrings_;
    char loadBuffer_[kLoadBufferSize] = {};
};
