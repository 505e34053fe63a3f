#include "module_format.h"

namespace mivo {

namespace {

// Version resource file types and subtypes we name.
constexpr unsigned long kTypeApplication = 1;
constexpr unsigned long kTypeDll = 2;
constexpr unsigned long kTypeDriver = 3;
constexpr unsigned long kTypeFont = 4;
constexpr unsigned long kTypeVirtualDevice = 5;
constexpr unsigned long kTypeStaticLibrary = 7;

const char* DriverSuffix(unsigned long subtype) {
    switch (subtype) {
    case 1: return ": Printer";
    case 2: return ": Keyboard";
    case 3: return ": Language";
    case 4: return ": Display";
    case 5: return ": Mouse";
    case 6: return ": Network";
    case 7: return ": System";
    case 8: return ": Installable";
    case 9: return ": Sound";
    case 10: return ": Communication";
    case 12: return ": Printer, versioned";
    default: return ": Unknown";
    }
}

const char* FontSuffix(unsigned long subtype) {
    switch (subtype) {
    case 1: return ": Raster";
    case 2: return ": Vector";
    case 3: return ": Truetype";
    default: return ": Unknown";
    }
}

constexpr int kHeadingRuleWidth = 97;
constexpr int kSummaryRuleWidth = 92;
constexpr int kCountRuleWidth = 32;

bool WriteRule(std::FILE* out, char c, int width) {
    for (int i = 0; i < width; ++i) std::fputc(c, out);
    std::fputc('\n', out);
    return !std::ferror(out);
}

bool WriteCount(std::FILE* out, const char* word, int count) {
    return std::fprintf(out, "%25s: %5d\n", word, count) >= 0;
}

}  // namespace

const char* ModuleKindWord(ModuleKind kind) {
    switch (kind) {
    case ModuleKind::Application: return "Application";
    case ModuleKind::DynamicLibrary: return "Dynamic link library";
    case ModuleKind::Driver: return "Driver";
    case ModuleKind::Font: return "Font";
    case ModuleKind::VirtualDevice: return "Virtual device";
    case ModuleKind::StaticLibrary: return "Static library";
    case ModuleKind::Unknown: break;
    }
    return "Unknown";
}

ModuleKind DescribeModuleType(unsigned long fileType, unsigned long fileSubtype, char* text,
                              std::size_t size) {
    ModuleKind kind = ModuleKind::Unknown;
    const char* suffix = "";
    switch (fileType) {
    case kTypeApplication: kind = ModuleKind::Application; break;
    case kTypeDll: kind = ModuleKind::DynamicLibrary; break;
    case kTypeDriver:
        kind = ModuleKind::Driver;
        suffix = DriverSuffix(fileSubtype);
        break;
    case kTypeFont:
        kind = ModuleKind::Font;
        suffix = FontSuffix(fileSubtype);
        break;
    case kTypeVirtualDevice: kind = ModuleKind::VirtualDevice; break;
    case kTypeStaticLibrary: kind = ModuleKind::StaticLibrary; break;
    default: break;
    }
    if (text != nullptr && size > 0) std::snprintf(text, size, "%s%s", ModuleKindWord(kind), suffix);
    return kind;
}

void FormatModuleVersion(char* text, std::size_t size, unsigned long mostSignificant,
                         unsigned long leastSignificant) {
    if (text == nullptr || size == 0) return;
    std::snprintf(text, size, "%d.%d.%d.%d", static_cast<int>((mostSignificant >> 16) & 0xFFFF),
                  static_cast<int>(mostSignificant & 0xFFFF),
                  static_cast<int>((leastSignificant >> 16) & 0xFFFF),
                  static_cast<int>(leastSignificant & 0xFFFF));
}

bool WriteExportHeading(std::FILE* out) {
    WriteRule(out, '=', kHeadingRuleWidth);
    std::fprintf(out, "%37s%s\n", "", "Module versions export");
    WriteRule(out, '=', kHeadingRuleWidth);
    std::fputc('\n', out);
    std::fprintf(out, "%-30s %-25s %s\n", "Version", "Type", "Module path/name");
    std::fprintf(out, "%s\n",
                 "-------------------------      --------------------      "
                 "----------------------------------------");
    return !std::ferror(out);
}

bool WriteExportRow(std::FILE* out, const char* version, const char* type, const char* path) {
    return std::fprintf(out, "%25s      %-25s %s\n", version, type, path) >= 0;
}

bool WriteExportSummary(std::FILE* out, const ModuleTally& tally) {
    if (tally.total != 0) {
        WriteRule(out, '=', kSummaryRuleWidth);
        WriteCount(out, "Modules", tally.total);
        WriteRule(out, '-', kCountRuleWidth);
    }
    for (int i = 0; i < kModuleKindCount; ++i) {
        if (tally.byKind[i] != 0) WriteCount(out, ModuleKindWord(static_cast<ModuleKind>(i)), tally.byKind[i]);
    }
    if (tally.total != 0) WriteRule(out, '=', kCountRuleWidth);
    return !std::ferror(out);
}

int CompareNoCase(const char* a, const char* b) {
    auto fold = [](unsigned char c) -> int { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && fold(*x) == fold(*y)) {
        ++x;
        ++y;
    }
    return fold(*x) - fold(*y);
}

}  // namespace mivo
