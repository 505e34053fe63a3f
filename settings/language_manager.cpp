#include "settings/language_manager.h"

#include <climits>
#include <cstdio>

#include "common/text.h"
#include "settings/language_text.h"
#include "settings/lock_guard.h"

namespace {

constexpr size_t kPathSize = 520;

}  // namespace

CLanguageManager::CLanguageManager(const char* programDir, const char* subDir)
    : CLanguageManager(programDir, subDir, GetSystemDefaultLangID()) {}

CLanguageManager::CLanguageManager(const char* programDir, const char* subDir, LANGID language) {
    InitializeCriticalSection(&lock_);
    char path[kPathSize] = {};
    const int n = std::snprintf(path, sizeof path, "%s\\%s\\%d.dll", TextOrEmpty(programDir),
                                TextOrEmpty(subDir), settings::LanguageLibraryFor(language));
    // A path that did not fit would name some other file: load nothing then.
    if (n > 0 && static_cast<size_t>(n) < sizeof path) library_.reset(LoadLibraryA(path));
}

CLanguageManager::~CLanguageManager() {
    strings_.clear();
    wideStrings_.clear();
    if (menu_) DestroyMenu(menu_);
    library_.reset();
    DeleteCriticalSection(&lock_);
}

const char* CLanguageManager::GetString(int32_t id) {
    LockGuard guard(&lock_);
    return GetStringLocked(id);
}

const char* CLanguageManager::GetStringLocked(int32_t id) {
    auto found = strings_.find(id);
    if (found != strings_.end()) return found->second.c_str();
    if (!library_) return nullptr;
    const int length = LoadStringA(library_.get(), static_cast<UINT>(id), loadBuffer_,
                                   static_cast<int>(sizeof loadBuffer_));
    if (length <= 0) return nullptr;
    auto inserted = strings_.emplace(id, settings::ReducePercents(loadBuffer_));
    return inserted.first->second.c_str();
}

const wchar_t* CLanguageManager::GetWideString(int32_t id) {
    LockGuard guard(&lock_);
    auto found = wideStrings_.find(id);
    if (found != wideStrings_.end()) return found->second.c_str();
    const char* narrow = GetStringLocked(id);
    if (!narrow) return nullptr;
    const std::u16string wide = settings::WidenBytes(narrow);
    if (wide.empty() || wide.size() >= static_cast<size_t>(INT_MAX)) return nullptr;
    auto inserted = wideStrings_.emplace(id, std::wstring(wide.begin(), wide.end()));
    return inserted.first->second.c_str();
}

HMENU CLanguageManager::LoadMenu(UINT id) {
    if (!library_) return menu_;
    if (menu_) DestroyMenu(menu_);
    menu_ = ::LoadMenuA(library_.get(), MAKEINTRESOURCEA(LOWORD(id)));
    return menu_;
}

size_t CLanguageManager::CachedStringCount() {
    LockGuard guard(&lock_);
    return strings_.size() + wideStrings_.size();
}
