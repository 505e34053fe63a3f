// Shared pieces of the directory's Windows tests: fixed English texts, the
// directory server started by run_with_dirserver.sh, scratch files, and a
// watcher that answers message boxes the code under test opens.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "directory/text_source.h"

namespace dirtest {

constexpr char kVersionedCaption[] = "Orvantis v3.3.1";
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
// Number of stations in the served file, read straight from disk.
int ServedStationCount();

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

struct Answered {
    std::string caption;
    std::string text;
    bool yesNo;  // the box offers Yes and No rather than OK
};

// Watches for message boxes of this process from a second thread, records
// them and presses the button the chooser returns (IDOK, IDYES, IDNO).
class BoxAnswerer {
public:
    using Chooser = std::function<int(const std::string& caption, const std::string& text)>;
    explicit BoxAnswerer(Chooser chooser);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    std::vector<Answered> Boxes();

private:
    void Run();
    Chooser chooser_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Answered> boxes_;
    std::thread thread_;
};

// Runs the message loop of this thread until done() holds or the time runs out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

}  // namespace dirtest
