// The portable half of the language manager: which library a system language
// picks, how a resource text becomes the text handed out, and the check a text
// must pass before the program uses it as a format. No windows.h here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace settings {

constexpr int kGermanLibrary = 1031;
constexpr int kEnglishLibrary = 1033;

// German in any region (primary language 7 in the low ten bits) picks 1031,
// every other language 1033.
int LanguageLibraryFor(uint16_t langId);

// Every doubled percent sign becomes one; everything else, a lone percent sign
// included, is copied as it is. The text is never read as a format.
std::string ReducePercents(const char* text);

// True when format holds exactly the printf conversions listed in expected
// (their letters in order, e.g. "dd"), with at most flags, a width and a
// precision written as digits, and nothing else that printf would consume.
bool FormatHasExactly(const char* format, const char* expected);

// Each byte widened to the UTF-16 code unit of the same value (0xE4 -> U+00E4).
std::u16string WidenBytes(const char* text);

}  // namespace settings
