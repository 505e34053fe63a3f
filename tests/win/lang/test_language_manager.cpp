// The language manager against the real language libraries of the installed
// layout (ORVANTIS_DIST/lang).
#include "settings/language_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/res/resource.h"
#include "settings/language_text.h"
#include "program_string_ids.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr LANGID kSwissGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_SWISS);

// Every text id the program asks for, in the order of settings/string_ids.h.
std::vector<int> AllStringIds() {
    return std::vector<int>(std::begin(kProgramStringIds), std::end(kProgramStringIds));
}

// The ids a library's string table defines: each table resource holds 16
// length-prefixed texts, an empty one standing for an id that is not there.
BOOL CALLBACK AddTableIds(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR ids) {
    HRSRC info = FindResourceA(module, name, type);
    const auto* data = static_cast<const WORD*>(LockResource(LoadResource(module, info)));
    const DWORD words = info ? SizeofResource(module, info) / sizeof(WORD) : 0;
    const int first = (static_cast<int>(reinterpret_cast<ULONG_PTR>(name)) - 1) * 16;
    DWORD at = 0;
    for (int i = 0; i < 16 && data && at < words; ++i) {
        const WORD length = data[at];
        if (length > 0) reinterpret_cast<std::set<int>*>(ids)->insert(first + i);
        at += 1u + length;
    }
    return TRUE;
}

std::set<int> DefinedStringIds(HMODULE library) {
    std::set<int> ids;
    EnumResourceNamesA(library, MAKEINTRESOURCEA(6) /* RT_STRING */, AddTableIds,
                       reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

constexpr UINT kMenuCommands[] = {IDM_EXIT,          IDM_MUTE_ON_LOCK,    IDM_MUTE_EFFECT,
                                  IDM_SHOW_SPECTRUM, IDM_CENTER_SPECTRUM, IDM_HIDE_SPECTRUM_ON_HOVER,
                                  IDM_MODULES,       IDM_ABOUT};

// The installed layout as a Windows path.
std::string DistDir() {
    const char* dist = std::getenv("ORVANTIS_DIST");
    if (!dist) return "";
    std::string path = std::string("Z:") + dist;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool MenuHasCommand(HMENU menu, UINT command) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (GetMenuItemID(menu, i) == command) return true;
        HMENU sub = GetSubMenu(menu, i);
        if (sub && MenuHasCommand(sub, command)) return true;
    }
    return false;
}

class LanguageManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(DistDir().empty()) << "ORVANTIS_DIST is not set"; }
    void TearDown() override {
        for (CLanguageManager* manager : managers_) EXPECT_EQ(0, manager->Release());
    }
    CLanguageManager* Make(LANGID language, const char* sub = "lang") {
        managers_.push_back(new CLanguageManager(DistDir().c_str(), sub, language));
        return managers_.back();
    }
    std::vector<CLanguageManager*> managers_;
};

TEST_F(LanguageManagerTest, TheChoiceFollowsTheLanguageAndHasNoFallback) {
    EXPECT_TRUE(Make(kEnglish)->IsLoaded());
    EXPECT_TRUE(Make(kGerman)->IsLoaded());
    EXPECT_STREQ("Lautst\xE4rke:", Make(kSwissGerman)->GetString(IDS_VOLUME_LABEL));
    EXPECT_STREQ("Volume:", Make(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH))->GetString(IDS_VOLUME_LABEL));
    // A missing folder loads nothing, and nothing is handed out.
    CLanguageManager* missing = Make(kEnglish, "no-such-folder");
    EXPECT_FALSE(missing->IsLoaded());
    EXPECT_EQ(nullptr, missing->GetString(IDS_VOLUME_LABEL));
    EXPECT_EQ(nullptr, missing->GetWideString(IDS_VOLUME_LABEL));
    EXPECT_EQ(nullptr, missing->LoadMenu(IDM_MAIN));
    // The program itself uses the system's language (English under this Wine).
    CLanguageManager* system = new CLanguageManager(DistDir().c_str(), "lang");
    managers_.push_back(system);
    EXPECT_TRUE(system->IsLoaded());
}

TEST_F(LanguageManagerTest, TextsAreCachedAndMissingOnesAreNot) {
    CLanguageManager* manager = Make(kEnglish);
    const char* first = manager->GetString(IDS_VOLUME_LABEL);
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("Volume:", first);
    EXPECT_EQ(first, manager->GetString(IDS_VOLUME_LABEL));
    const wchar_t* wide = manager->GetWideString(IDS_THUMB_PLAY);
    ASSERT_NE(nullptr, wide);
    EXPECT_STREQ(L"Play", wide);
    EXPECT_EQ(wide, manager->GetWideString(IDS_THUMB_PLAY));
    const size_t cached = manager->CachedStringCount();
    EXPECT_EQ(3u, cached);  // two narrow (one as the wide one's source), one wide

    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(nullptr, manager->GetString(4999));
        EXPECT_EQ(nullptr, manager->GetWideString(4999));
    }
    EXPECT_EQ(cached, manager->CachedStringCount());
}

TEST_F(LanguageManagerTest, PercentSignsAndUmlauts) {
    CLanguageManager* english = Make(kEnglish);
    EXPECT_STREQ("100%", english->GetString(IDS_VOLUME_VALUE));
    const char* tooOld = english->GetString(IDS_LIST_TOO_OLD);
    ASSERT_NE(nullptr, tooOld);
    EXPECT_TRUE(settings::FormatHasExactly(tooOld, "dd")) << tooOld;

    CLanguageManager* german = Make(kGerman);
    EXPECT_TRUE(settings::FormatHasExactly(german->GetString(IDS_LIST_TOO_OLD), "dd"));
    const char* narrow = german->GetString(IDS_VOLUME_LABEL);
    ASSERT_NE(nullptr, narrow);
    EXPECT_STREQ("Lautst\xE4rke:", narrow);  // Windows-1252 in the resource
    const wchar_t* wide = german->GetWideString(IDS_VOLUME_LABEL);
    ASSERT_NE(nullptr, wide);
    EXPECT_STREQ(L"Lautst\u00E4rke:", wide);
}

TEST_F(LanguageManagerTest, BothLibrariesDefineExactlyTheProgramsTexts) {
    const std::vector<int> wanted = AllStringIds();
    const std::set<int> program(wanted.begin(), wanted.end());
    for (const char* file : {"1031.dll", "1033.dll"}) {
        const std::string path = DistDir() + "\\lang\\" + file;
        HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, library) << path;
        const std::set<int> defined = DefinedStringIds(library);
        FreeLibrary(library);
        for (int id : program) EXPECT_TRUE(defined.count(id)) << file << " lacks " << id;
        for (int id : defined) EXPECT_TRUE(program.count(id)) << file << " has unasked " << id;
    }
}

TEST_F(LanguageManagerTest, EveryTextAndMenuCommandIsInBothLibraries) {
    for (LANGID language : {kEnglish, kGerman}) {
        CLanguageManager* manager = Make(language);
        ASSERT_TRUE(manager->IsLoaded()) << language;
        for (int id : AllStringIds()) {
            const char* text = manager->GetString(id);
            EXPECT_TRUE(text && *text) << "language " << language << " lacks " << id;
        }
        HMENU menu = manager->LoadMenu(IDM_MAIN);
        ASSERT_NE(nullptr, menu) << language;
        for (UINT command : kMenuCommands)
            EXPECT_TRUE(MenuHasCommand(menu, command)) << language << " menu lacks " << command;
    }
}

TEST_F(LanguageManagerTest, EveryPercentSignInTheLibrariesIsDoubled) {
    // The manager reduces "%%" to "%" once, so a single sign in a resource
    // would come out as a conversion where 5063 is used as a format, and
    // would be shown wrongly everywhere else.
    for (const char* file : {"1031.dll", "1033.dll"}) {
        const std::string path = DistDir() + "\\lang\\" + file;
        HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, library) << path;
        for (int id : AllStringIds()) {
            char raw[2048] = {};
            ASSERT_GT(LoadStringA(library, id, raw, sizeof raw), 0) << file << " " << id;
            EXPECT_TRUE(settings::FormatHasExactly(raw, "")) << file << " " << id << ": " << raw;
        }
        FreeLibrary(library);
    }
}

TEST_F(LanguageManagerTest, ASecondMenuReplacesTheFirst) {
    CLanguageManager* manager = Make(kEnglish);
    HMENU first = manager->LoadMenu(IDM_MAIN);
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(IsMenu(first));
    HMENU second = manager->LoadMenu(IDM_MAIN);
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(IsMenu(first));
    EXPECT_TRUE(IsMenu(second));
    // Only the low 16 bits name the menu.
    EXPECT_NE(nullptr, manager->LoadMenu(0x10000 | IDM_MAIN));
    EXPECT_FALSE(IsMenu(second));
    EXPECT_EQ(nullptr, manager->LoadMenu(999));
}

TEST_F(LanguageManagerTest, FirstLookUpsFromManyThreadsAgree) {
    CLanguageManager* manager = Make(kGerman);
    const std::vector<int> ids = AllStringIds();
    constexpr int kThreads = 8;
    std::vector<std::vector<const char*>> narrow(kThreads);
    std::vector<std::vector<const wchar_t*>> wide(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads walk backwards, so first look-ups collide.
            for (size_t i = 0; i < ids.size(); ++i) {
                const int id = ids[t % 2 ? ids.size() - 1 - i : i];
                narrow[t].push_back(manager->GetString(id));
                wide[t].push_back(manager->GetWideString(id));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (size_t i = 0; i < ids.size(); ++i) {
            const int id = ids[t % 2 ? ids.size() - 1 - i : i];
            EXPECT_EQ(manager->GetString(id), narrow[t][i]) << id;
            EXPECT_EQ(manager->GetWideString(id), wide[t][i]) << id;
        }
    }
    EXPECT_EQ(2 * ids.size(), manager->CachedStringCount());
}

}  // namespace
