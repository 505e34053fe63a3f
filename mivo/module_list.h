// Enumeration of the modules loaded in this process, feeding either the module
// dialog's list or the text export.
#pragma once

#include <cstdio>

#include "module_format.h"

namespace mivo {

// Receives one enumeration: Begin, a Row per module in load order, End.
class ModuleSink {
public:
    virtual ~ModuleSink() = default;
    virtual void Begin() = 0;
    virtual void Row(int index, const char* version, const char* type, const char* path) = 0;
    virtual void End(const ModuleTally& tally) = 0;
};

// Upper bound of modules listed.
constexpr int kMaxModules = 1024;

// Runs one enumeration into sink. False when the process cannot be opened (the
// sink then sees nothing); a failed module query yields an empty run.
bool EnumerateModules(ModuleSink& sink);

// The export file's contents written to out (opened in text mode, so lines end
// in CR LF on Windows). False when enumeration or writing failed.
bool ExportModules(std::FILE* out);

}  // namespace mivo
