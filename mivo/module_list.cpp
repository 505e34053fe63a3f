#include "module_list.h"

#include <windows.h>
#include <psapi.h>

#include <vector>

#include "common/scoped_handle.h"

namespace mivo {

namespace {

// Version and type of one module file; false when its version resource
// cannot be read.
bool DescribeFile(const char* path, char* version, char* type, ModuleKind* kind) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    FormatModuleVersion(version, kModuleVersionSize, fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    *kind = DescribeModuleType(fixed->dwFileType, fixed->dwFileSubtype, type, kModuleTypeSize);
    return true;
}

void MarkError(char* version, char* type, char* path) {
    snprintf(version, kModuleVersionSize, "%s", kModuleErrorText);
    snprintf(type, kModuleTypeSize, "%s", kModuleErrorText);
    snprintf(path, kModulePathSize, "%s", kModuleErrorText);
}

class FileSink : public ModuleSink {
public:
    explicit FileSink(std::FILE* out) : out_(out) {}
    void Begin() override { ok_ = WriteExportHeading(out_) && ok_; }
    void Row(int, const char* version, const char* type, const char* path) override {
        ok_ = WriteExportRow(out_, version, type, path) && ok_;
    }
    void End(const ModuleTally& tally) override { ok_ = WriteExportSummary(out_, tally) && ok_; }
    bool ok() const { return ok_; }

private:
    std::FILE* out_;
    bool ok_ = true;
};

}  // namespace

bool EnumerateModules(ModuleSink& sink) {
    ScopedHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    if (!process) return false;

    std::vector<HMODULE> modules(kMaxModules);
    DWORD needed = 0;
    int count = 0;
    if (EnumProcessModules(process.get(), modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                           &needed)) {
        count = static_cast<int>(needed / sizeof(HMODULE));
        if (count > kMaxModules) count = kMaxModules;
    }

    sink.Begin();
    ModuleTally tally;
    char version[kModuleVersionSize];
    char type[kModuleTypeSize];
    char path[kModulePathSize];
    for (int i = 0; i < count; ++i) {
        ModuleKind kind = ModuleKind::Unknown;
        // Every row starts from its own module: nothing of the previous row
        // may show when this one cannot be read.
        if (GetModuleFileNameExA(process.get(), modules[i], path, MAX_PATH) == 0 ||
            !DescribeFile(path, version, type, &kind)) {
            MarkError(version, type, path);
        } else {
            tally.AddKind(kind);
        }
        tally.AddRow();
        sink.Row(i, version, type, path);
    }
    process.reset();
    sink.End(tally);
    return true;
}

bool ExportModules(std::FILE* out) {
    FileSink sink(out);
    return EnumerateModules(sink) && sink.ok();
}

}  // namespace mivo
