#include "settings/language_text.h"

#include <gtest/gtest.h>

namespace {

using settings::FormatHasExactly;
using settings::LanguageLibraryFor;
using settings::ReducePercents;

TEST(LanguageLibraryFor, GermanInEveryRegionPicksGerman) {
    for (uint16_t id : {0x0407, 0x0C07, 0x0807, 0x1007, 0x1407, 0x0007})
        EXPECT_EQ(1031, LanguageLibraryFor(id)) << std::hex << id;
    for (uint16_t id : {0x0409, 0x040C, 0x0809, 0x0410, 0x0000, 0x0413, 0xFFFF})
        EXPECT_EQ(1033, LanguageLibraryFor(id)) << std::hex << id;
    // Only the low ten bits name the language: 0x0407 with other sub-language
    // bits is still German, 0x0487 (primary 0x87) is not.
    EXPECT_EQ(1031, LanguageLibraryFor(0xFC07));
    EXPECT_EQ(1033, LanguageLibraryFor(0x0487));
}

TEST(ReducePercents, DoubledSignsBecomeOne) {
    EXPECT_EQ("100%", ReducePercents("100%%"));
    EXPECT_EQ("version %d or later, found %d", ReducePercents("version %%d or later, found %%d"));
    EXPECT_EQ("%%", ReducePercents("%%%%"));
    EXPECT_EQ("a%b%c", ReducePercents("a%%b%%c"));
    EXPECT_EQ("plain text", ReducePercents("plain text"));
    EXPECT_EQ("", ReducePercents(""));
    EXPECT_EQ("", ReducePercents(nullptr));
}

TEST(ReducePercents, NeverReadsTheTextAsAFormat) {
    // Each of these would make printf read arguments that are not there.
    EXPECT_EQ("%s crashes", ReducePercents("%s crashes"));
    EXPECT_EQ("%n%n%n", ReducePercents("%n%n%n"));
    EXPECT_EQ("50% off", ReducePercents("50% off"));
    EXPECT_EQ("ends in %", ReducePercents("ends in %"));
    EXPECT_EQ("%%", ReducePercents("%%%"));
    EXPECT_EQ("\xE4%d\xFC", ReducePercents("\xE4%%d\xFC"));
}

TEST(FormatHasExactly, AcceptsTheExpectedConversions) {
    EXPECT_TRUE(FormatHasExactly("needs %d, found %d", "dd"));
    EXPECT_TRUE(FormatHasExactly("%-4d and %04d (100%%)", "dd"));
    EXPECT_TRUE(FormatHasExactly("%.2d%5.1d", "dd"));
    EXPECT_TRUE(FormatHasExactly("no conversions, 100%%", ""));
}

TEST(FormatHasExactly, RefusesAnythingElse) {
    const char* bad[] = {
        "needs %d",               // too few
        "%d %d %d",               // too many
        "%s and %d",              // wrong kind
        "%d and %s",              //
        "%*d %d",                 // '*' takes an extra argument
        "%ld %d",                 // length modifier
        "%d %n",                  //
        "trailing %",             // unfinished
        "%d %d%",                 //
        "%d %1$d",                // positional
    };
    for (const char* format : bad) EXPECT_FALSE(FormatHasExactly(format, "dd")) << format;
    EXPECT_FALSE(FormatHasExactly(nullptr, "dd"));
}

TEST(WidenBytes, EveryByteBecomesTheCodeUnitOfTheSameValue) {
    EXPECT_EQ(u"Lautst\u00E4rke", settings::WidenBytes("Lautst\xE4rke"));
    EXPECT_EQ(u"\u00FF\u0080\u0001", settings::WidenBytes("\xFF\x80\x01"));
    EXPECT_EQ(u"", settings::WidenBytes(""));
}

}  // namespace
