#include "settings/language_text.h"

#include <cstring>

namespace settings {
namespace {

constexpr uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr uint16_t kLangGerman = 0x07;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int LanguageLibraryFor(uint16_t langId) {
    return (langId & kPrimaryLanguageMask) == kLangGerman ? kGermanLibrary : kEnglishLibrary;
}

std::string ReducePercents(const char* text) {
    std::string out;
    if (!text) return out;
    out.reserve(std::strlen(text));
    for (const char* p = text; *p; ++p) {
        out += *p;
        if (p[0] == '%' && p[1] == '%') ++p;
    }
    return out;
}

bool FormatHasExactly(const char* format, const char* expected) {
    if (!format || !expected) return false;
    const char* want = expected;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0", *p)) ++p;
        while (IsDigit(*p)) ++p;
        if (*p == '.') {
            ++p;
            while (IsDigit(*p)) ++p;
        }
        // Anything else here ('*', a length modifier, the end) would make
        // printf take arguments we do not pass, or is not a conversion at all.
        if (*p == '\0' || *p != *want) return false;
        ++want;
    }
    return *want == '\0';
}

std::u16string WidenBytes(const char* text) {
    std::u16string out;
    if (!text) return out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        out += static_cast<char16_t>(*p);
    return out;
}

}  // namespace settings
