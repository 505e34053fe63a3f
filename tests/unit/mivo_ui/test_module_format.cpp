#include "mivo/module_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using mivo::ModuleKind;

// Captures what a writer puts on a stream.
class Capture {
public:
    Capture() : file_(open_memstream(&data_, &size_)) {}
    ~Capture() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(data_);
    }
    std::FILE* file() { return file_; }
    std::string Text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

std::string Repeat(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

TEST(MivoModuleTypes, TypeTextsAndKinds) {
    struct Case {
        unsigned long type, subtype;
        const char* text;
        ModuleKind kind;
    };
    const Case cases[] = {
        {1, 0, "Application", ModuleKind::Application},
        {2, 0, "Dynamic link library", ModuleKind::DynamicLibrary},
        {2, 9, "Dynamic link library", ModuleKind::DynamicLibrary},  // subtype matters for 3 and 4 only
        {3, 1, "Driver: Printer", ModuleKind::Driver},
        {3, 2, "Driver: Keyboard", ModuleKind::Driver},
        {3, 3, "Driver: Language", ModuleKind::Driver},
        {3, 4, "Driver: Display", ModuleKind::Driver},
        {3, 5, "Driver: Mouse", ModuleKind::Driver},
        {3, 6, "Driver: Network", ModuleKind::Driver},
        {3, 7, "Driver: System", ModuleKind::Driver},
        {3, 8, "Driver: Installable", ModuleKind::Driver},
        {3, 9, "Driver: Sound", ModuleKind::Driver},
        {3, 10, "Driver: Communication", ModuleKind::Driver},
        {3, 11, "Driver: Unknown", ModuleKind::Driver},
        {3, 12, "Driver: Printer, versioned", ModuleKind::Driver},
        {3, 0, "Driver: Unknown", ModuleKind::Driver},
        {4, 1, "Font: Raster", ModuleKind::Font},
        {4, 2, "Font: Vector", ModuleKind::Font},
        {4, 3, "Font: Truetype", ModuleKind::Font},
        {4, 4, "Font: Unknown", ModuleKind::Font},
        {5, 0, "Virtual device", ModuleKind::VirtualDevice},
        {6, 0, "Unknown", ModuleKind::Unknown},
        {7, 0, "Static library", ModuleKind::StaticLibrary},
        {0, 0, "Unknown", ModuleKind::Unknown},
        {0xFFFFFFFFul, 3, "Unknown", ModuleKind::Unknown},
    };
    for (const Case& c : cases) {
        char text[mivo::kModuleTypeSize];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(mivo::DescribeModuleType(c.type, c.subtype, text, sizeof text), c.kind)
            << c.type << "/" << c.subtype;
        EXPECT_STREQ(text, c.text) << c.type << "/" << c.subtype;
    }
    // A short buffer is cut, never overrun.
    char small[8];
    mivo::DescribeModuleType(3, 12, small, sizeof small);
    EXPECT_STREQ(small, "Driver:");
}

TEST(MivoModuleTypes, VersionTextTakesBothHalvesOfEachWord) {
    char text[mivo::kModuleVersionSize];
    mivo::FormatModuleVersion(text, sizeof text, 0x00030004, 0x00000163);
    EXPECT_STREQ(text, "3.4.0.355");
    mivo::FormatModuleVersion(text, sizeof text, 0xFFFF0000, 0x0001FFFF);
    EXPECT_STREQ(text, "65535.0.1.65535");
}

TEST(MivoModuleExport, HeadingColumnsAndRows) {
    Capture out;
    ASSERT_TRUE(mivo::WriteExportHeading(out.file()));
    ASSERT_TRUE(mivo::WriteExportRow(out.file(), "6.1.7601.17514", "Dynamic link library",
                                     "C:\\windows\\system32\\kernel32.dll"));
    ASSERT_TRUE(mivo::WriteExportRow(out.file(), "ERROR", "ERROR", "ERROR"));
    // Over-long texts are written whole, not cut to the column width.
    ASSERT_TRUE(mivo::WriteExportRow(out.file(), "12345678901234567890123456", "Driver: Printer, versioned", "x"));

    const std::string expected =
        Repeat('=', 97) + "\n" +
        "                                     Module versions export\n" +
        Repeat('=', 97) + "\n" +
        "\n" +
        "Version                        Type                      Module path/name\n"
        "-------------------------      --------------------      ----------------------------------------\n"
        "           6.1.7601.17514      Dynamic link library      C:\\windows\\system32\\kernel32.dll\n"
        "                    ERROR      ERROR                     ERROR\n"
        "12345678901234567890123456      Driver: Printer, versioned x\n";
    EXPECT_EQ(out.Text(), expected);
}

TEST(MivoModuleExport, SummaryListsTotalThenNonZeroKindsInOrder) {
    mivo::ModuleTally tally;
    for (int i = 0; i < 31; ++i) tally.AddRow();
    for (int i = 0; i < 27; ++i) tally.AddKind(ModuleKind::DynamicLibrary);
    tally.AddKind(ModuleKind::StaticLibrary);
    tally.AddKind(ModuleKind::Application);
    tally.AddKind(ModuleKind::Unknown);
    // Two rows were errors: they count toward the total only.

    Capture out;
    ASSERT_TRUE(mivo::WriteExportSummary(out.file(), tally));
    const std::string expected = Repeat('=', 92) + "\n" +
                                 "                  Modules:    31\n" +
                                 Repeat('-', 32) + "\n" +
                                 "                  Unknown:     1\n"
                                 "              Application:     1\n"
                                 "     Dynamic link library:    27\n"
                                 "           Static library:     1\n" +
                                 Repeat('=', 32) + "\n";
    EXPECT_EQ(out.Text(), expected);
}

TEST(MivoModuleExport, SummaryOfOnlyErrorRowsAndOfNothing) {
    mivo::ModuleTally errors;
    errors.AddRow();
    errors.AddRow();
    Capture out;
    ASSERT_TRUE(mivo::WriteExportSummary(out.file(), errors));
    EXPECT_EQ(out.Text(), Repeat('=', 92) + "\n                  Modules:     2\n" + Repeat('-', 32) + "\n" +
                              Repeat('=', 32) + "\n");

    Capture empty;
    ASSERT_TRUE(mivo::WriteExportSummary(empty.file(), mivo::ModuleTally{}));
    EXPECT_EQ(empty.Text(), "");
}

TEST(MivoModuleExport, WriteErrorsAreReported) {
    std::FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_FALSE(mivo::WriteExportHeading(readOnly));
    EXPECT_FALSE(mivo::WriteExportRow(readOnly, "1.0.0.0", "Application", "a.exe"));
    mivo::ModuleTally tally;
    tally.AddRow();
    EXPECT_FALSE(mivo::WriteExportSummary(readOnly, tally));
    std::fclose(readOnly);
}

TEST(MivoModuleSort, CaseInsensitiveOrder) {
    EXPECT_EQ(mivo::CompareNoCase("Driver", "driver"), 0);
    EXPECT_LT(mivo::CompareNoCase("application", "Dynamic"), 0);
    EXPECT_GT(mivo::CompareNoCase("Zeta", "alpha"), 0);
    EXPECT_LT(mivo::CompareNoCase("C:\\A\\b.dll", "c:\\a\\B.dll2"), 0);  // a prefix sorts first
    EXPECT_GT(mivo::CompareNoCase("b", ""), 0);
    // Other bytes keep their value: '_' lies below the lower-case letters.
    EXPECT_LT(mivo::CompareNoCase("A_B", "aab"), 0);
    EXPECT_GT(mivo::CompareNoCase("\xE4", "z"), 0);  // bytes above ASCII compare unsigned
}

}  // namespace
