// Texts of the module list and its export file, free of Win32 so they can be
// tested natively. The dialog and the export share these, so the list and the
// file always say the same thing about a module.
#pragma once

#include <cstddef>
#include <cstdio>

namespace mivo {

// Sizes of the three texts of one row.
constexpr std::size_t kModuleVersionSize = 128;
constexpr std::size_t kModuleTypeSize = 128;
constexpr std::size_t kModulePathSize = 1024;

// Shown in all three columns of a module whose file or version resource
// cannot be read.
constexpr const char kModuleErrorText[] = "ERROR";

// Kinds of module, in the order of the export's summary.
enum class ModuleKind {
    Unknown,
    Application,
    DynamicLibrary,
    Driver,
    Font,
    VirtualDevice,
    StaticLibrary,
};
constexpr int kModuleKindCount = 7;

// Word of a kind in the export's summary ("Dynamic link library", ...).
const char* ModuleKindWord(ModuleKind kind);

// Type text of a version resource's file type and subtype ("Driver: Sound",
// "Font: Truetype", ...) into text, and the kind it counts as.
ModuleKind DescribeModuleType(unsigned long fileType, unsigned long fileSubtype, char* text,
                              std::size_t size);

// "major.minor.build.revision" from the most and least significant halves of a
// version resource's file version.
void FormatModuleVersion(char* text, std::size_t size, unsigned long mostSignificant,
                         unsigned long leastSignificant);

// Running totals of one enumeration; rows of unreadable modules count toward
// the total only.
struct ModuleTally {
    int total = 0;
    int byKind[kModuleKindCount] = {};

    void AddRow() { ++total; }
    void AddKind(ModuleKind kind) { ++byKind[static_cast<int>(kind)]; }
    int Count(ModuleKind kind) const { return byKind[static_cast<int>(kind)]; }
};

// The export file: heading, one line per module, summary. Each returns false
// when the stream reports a write error.
bool WriteExportHeading(std::FILE* out);
bool WriteExportRow(std::FILE* out, const char* version, const char* type, const char* path);
bool WriteExportSummary(std::FILE* out, const ModuleTally& tally);

// Case-insensitive order of two column texts (ASCII letters fold; other bytes
// compare by value): negative, zero or positive.
int CompareNoCase(const char* a, const char* b);

}  // namespace mivo
