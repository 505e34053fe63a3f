// Shared pieces of the directory's Windows tests: fixed English texts, the
// directory server started by run_with_dirserver.sh and what it serves, and
// scratch files.
// Message boxes are answered by testsupport::BoxWatcher.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "box_watcher.h"
#include "directory/text_source.h"
#include "versions.h"

namespace dirtest {

constexpr char kVersionedCaption[] = "Orvantis v" ORVANTIS_VERSION_SHORT;
constexpr char kPlainCaption[] = "Orvantis";

// The program's English texts for the IDs the directory uses.
class EnglishTexts : public TextSource {
public:
    const char* GetString(int id) const override;
};

const DirectoryHost& TestHost();

// Address of our served station list in a server mode ("normal", "reset", ...).
std::string ServedListUrl(const std::string& mode);
// Sends a command (/down, /up) to the server's control port; true on "ok".
bool ControlServer(const std::string& command);
// The served file's stations (tests/fixtures/directory), in file order, as
// the list keeps their names (UTF-8).
constexpr int kServedStationCount = 12;
extern const char* const kServedNames[kServedStationCount];

// A fresh scratch folder for one test, removed with its files afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::string File(const char* name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

// Runs the message loop of this thread until done() holds or the time runs out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

}  // namespace dirtest
