#include "settings/ini_value.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using settings::FormatIniFloat;
using settings::ParseIniFloat;

TEST(ParseIniFloat, ReadsTheLeadingDecimalNumber) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"0.750000", 0.75},    {"1", 1.0},        {"-1.000000", -1.0},  {"+0.5", 0.5},
        {".25", 0.25},         {"3.", 3.0},       {"  0.5", 0.5},       {"0.5abc", 0.5},
        {"0.5 ; note", 0.5},   {"1.5,7", 1.5},    {"2.5e-1", 0.25},     {"1e2x", 100.0},
        {"7e", 7.0},           {"7e+", 7.0},      {"-0.000001", -0.000001},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(c.value, ParseIniFloat(c.text)) << c.text;
}

TEST(ParseIniFloat, TextWithoutANumberReadsAsZero) {
    for (const char* text : {"", "abc", "-", ".", "+.", "e5", "nan", "inf", ",5", "0x"})
        EXPECT_EQ(0.0, ParseIniFloat(text)) << text;
    EXPECT_EQ(0.0, ParseIniFloat(nullptr));
    // Out of range exponents do not turn into infinities.
    EXPECT_EQ(0.0, ParseIniFloat("1e999999"));
}

TEST(FormatIniFloat, SixDecimalsAndARoundTrip) {
    char text[128];
    ASSERT_TRUE(FormatIniFloat(0.25, text, sizeof text));
    EXPECT_STREQ("0.250000", text);
    ASSERT_TRUE(FormatIniFloat(-1.0, text, sizeof text));
    EXPECT_STREQ("-1.000000", text);
    for (double value : {0.0, 1.0, -0.5, 0.123456, 0.999999})
        EXPECT_NEAR(value, (FormatIniFloat(value, text, sizeof text), ParseIniFloat(text)), 1e-6);
}

TEST(FormatIniFloat, RefusesWhatDoesNotFit) {
    char small[5] = "xxxx";
    EXPECT_FALSE(FormatIniFloat(0.25, small, sizeof small));
    EXPECT_STREQ("", small);
    EXPECT_FALSE(FormatIniFloat(1.0, nullptr, 0));
}

TEST(IniIntIsOn, OnlyOneIsOn) {
    EXPECT_TRUE(settings::IniIntIsOn(1));
    EXPECT_FALSE(settings::IniIntIsOn(0));
    EXPECT_FALSE(settings::IniIntIsOn(2));
    EXPECT_FALSE(settings::IniIntIsOn(~0u));
}

}  // namespace
