#include "fixtures.h"

#include <commctrl.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "settings/string_ids.h"

namespace dirtest {
namespace {

// Progress bars need the common controls registered, as the program does at start.
class CommonControls : public ::testing::Environment {
public:
    void SetUp() override {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&init);
    }
};
const auto* const kCommonControls = ::testing::AddGlobalTestEnvironment(new CommonControls);

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Fetch(const std::string& url) {
    std::string body;
    HINTERNET root = InternetOpenA("", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!root) return body;
    HINTERNET request = InternetOpenUrlA(root, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) {
        char buffer[256];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0)
            body.append(buffer, read);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
    return body;
}

}  // namespace

const char* EnglishTexts::GetString(int id) const {
    switch (id) {
    case IDS_PROGRESS_CAPTION: return "Orvantis - station list";
    case IDS_PROGRESS_PREPARING: return "Please wait...";
    case IDS_PROGRESS_CONNECTING: return "Connecting to the station directory...";
    case IDS_PROGRESS_DOWNLOADING: return "Downloading the station list";
    case IDS_PROGRESS_PARSING: return "Reading the station list...";
    case IDS_DOWNLOAD_FAILED: return "The station list could not be downloaded.";
    case IDS_RETRY_STATIONS: return "No station list is available. Try again?";
    case IDS_LIST_UNREADABLE: return "The station list is damaged.";
    case IDS_LIST_TOO_OLD: return "The station list is too old (need version %d, found %d).";
    case IDS_LIST_WRONG_FORMAT: return "The station list carries no version.";
    default: return nullptr;
    }
}

const DirectoryHost& TestHost() {
    static EnglishTexts texts;
    static DirectoryHost host = {GetModuleHandleA(nullptr), &texts, kVersionedCaption,
                                 kPlainCaption};
    return host;
}

std::string ServedListUrl(const std::string& mode) {
    return "http://127.0.0.1:" + EnvOrEmpty("ORVANTIS_DIRSERVER_PORT") +
           "/dwl/programs/orvantis/channels.xml?mode=" + mode;
}

bool ControlServer(const std::string& command) {
    return Fetch("http://127.0.0.1:" + EnvOrEmpty("ORVANTIS_DIRSERVER_CONTROL") + command) ==
           "ok\n";
}

const char* const kServedNames[kServedStationCount] = {
    "Alpha Radio", "Beta Classics", "Gamma & Delta", "Radio F\xC3\xBCnf S\xC3\xBC" "d",
    "Epsilon Jazz", "Zeta News", "Eta Talk", "Theta Electronic",
    "Iota Folk", "Kappa Rock", "Lambda Country", "Mu Oldies",
};

ScratchFolder::ScratchFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static int counter = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%sorvantis-dir-%lu-%d", temp, GetCurrentProcessId(),
                  ++counter);
    CreateDirectoryA(name, nullptr);
    path_ = name;
}

ScratchFolder::~ScratchFolder() {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(File(data.cFileName).c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path_.c_str());
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::string& path) {
    std::string contents;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return contents;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, n);
    std::fclose(file);
    return contents;
}

void WriteFile(const std::string& path, const std::string& contents) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

}  // namespace dirtest
