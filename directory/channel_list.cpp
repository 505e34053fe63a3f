#include "directory/channel_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "settings/string_ids.h"
#include "common/text.h"
#include "directory/download.h"
#include "directory/progress_window.h"

namespace {

constexpr size_t kErrorTextSize = 512;

}  // namespace

CChannelList* CreateChannelList(const char* url, const char* localPath, const DirectoryHost& host) {
    return new (std::nothrow) CChannelList(url, localPath, host);
}

CChannelList::CChannelList(const char* address, const char* path, const DirectoryHost& host)
    : url(DuplicateString(TextOrEmpty(address))),
      localPath(DuplicateString(TextOrEmpty(path))),
      host_(host) {
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
        ShowError(HostText(host_, IDS_DOWNLOAD_FAILED));
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
    SetProgressStatus(progressWindow, HostText(host_, IDS_PROGRESS_PARSING));
    switch (ParseFile(localPath)) {
    case ParseOutcome::Ok:
        return true;
    case ParseOutcome::Unreadable:
        ShowError(HostText(host_, IDS_LIST_UNREADABLE));
        return false;
    case ParseOutcome::NoVersion:
        ShowError(HostText(host_, IDS_LIST_WRONG_FORMAT));
        return false;
    case ParseOutcome::OldVersion: {
        char text[kErrorTextSize];
        FormatVersionError(text, sizeof text, HostText(host_, IDS_LIST_TOO_OLD), kLowestListVersion,
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
