#include "directory/channel_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "directory/directory_ids.h"
#include "directory/download.h"
#include "directory/progress_window.h"

namespace {

constexpr size_t kErrorTextSize = 512;

char* CopyString(const char* text) {
    if (!text) text = "";
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

}  // namespace

CChannelList* CreateChannelList(const char* url, const char* localPath, const DirectoryHost& host) {
    return new (std::nothrow) CChannelList(url, localPath, host);
}

CChannelList::CChannelList(const char* address, const char* path, const DirectoryHost& host)
    : url(CopyString(address)), localPath(CopyString(path)), host_(host) {
    if (url && localPath) Load();
}

CChannelList::~CChannelList() {
    if (progressWindow) DestroyWindow(progressWindow);
    FreeAll();
    std::free(url);
    std::free(localPath);
    url = localPath = nullptr;
}

bool CChannelList::Load() {
    if (progressWindow) {
        DestroyWindow(progressWindow);
        progressWindow = nullptr;
    }
    progressWindow = CreateProgressWindow(&host_);
    if (!progressWindow) return false;

    bool result;
    if (Download()) {
        result = Parse();
    } else {
        ShowError(HostText(host_, kTextDownloadFailed));
        result = false;
    }
    DestroyWindow(progressWindow);
    progressWindow = nullptr;
    return result;
}

bool CChannelList::Download() {
    return DownloadStationFile(url, localPath, progressWindow, host_);
}

bool CChannelList::Parse() {
    SetProgressStatus(progressWindow, HostText(host_, kTextParsing));
    switch (ParseFile(localPath)) {
    case ParseOutcome::Ok:
        return true;
    case ParseOutcome::Unreadable:
        ShowError(HostText(host_, kTextListUnreadable));
        return false;
    case ParseOutcome::NoVersion:
        ShowError(HostText(host_, kTextListNoVersion));
        return false;
    case ParseOutcome::OldVersion: {
        char text[kErrorTextSize];
        FormatVersionError(text, sizeof text, HostText(host_, kTextListTooOld), kLowestListVersion,
                           version);
        ShowError(text);
        return false;
    }
    }
    return false;
}

void CChannelList::ShowError(const char* text) const {
    MessageBoxA(progressWindow, text, host_.versionedCaption ? host_.versionedCaption : "",
                MB_OK | MB_ICONERROR);
}
