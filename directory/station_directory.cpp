#include "directory/station_directory.h"

#include <cstdio>

#include "common/main_dialog_ids.h"
#include "settings/string_ids.h"

#ifndef ORVANTIS_DIRECTORY_URL
#error "ORVANTIS_DIRECTORY_URL must name the station directory"
#endif

const char kDirectoryUrl[] = ORVANTIS_DIRECTORY_URL;

namespace {

#ifdef ORVANTIS_DIRECTORY_URL_FROM_ENVIRONMENT
// Test builds only: the whole-program tests serve the directory on a free
// port of their own and name its address here.
constexpr char kUrlVariable[] = "ORVANTIS_DIRECTORY_URL";
constexpr DWORD kUrlSize = 2048;
#endif

const char* DefaultUrl() {
#ifdef ORVANTIS_DIRECTORY_URL_FROM_ENVIRONMENT
    static char named[kUrlSize];
    const DWORD length = GetEnvironmentVariableA(kUrlVariable, named, kUrlSize);
    if (length > 0 && length < kUrlSize) return named;
#endif
    return kDirectoryUrl;
}

}  // namespace

bool OpenStationDirectory(HWND mainWindow, const DirectoryHost& host, const char* programDirectory,
                          const char* url, StationDirectory* directory) {
    HWND box = GetDlgItem(mainWindow, IDC_STATIONS);
    directory->listBox = new StationListBox(box, host.instance);

    char localPath[kLocalPathSize] = {};
    std::snprintf(localPath, sizeof localPath, "%s\\%s", programDirectory, kLocalFileName);
    for (;;) {
        CChannelList* list = CreateChannelList(url ? url : DefaultUrl(), localPath, host);
        ReleaseAndClear(directory->list);
        directory->list = list;
        if (list && list->channelCount > 0) break;
        int answer = MessageBoxA(mainWindow, HostText(host, IDS_RETRY_STATIONS),
                                 TextOrEmpty(host.plainCaption),
                                 MB_YESNO | MB_ICONINFORMATION);
        if (answer != IDYES) return false;
    }

    for (ChannelEntry* entry = directory->list->first; entry; entry = entry->next)
        directory->listBox->AddChannel(entry);
    SendMessageA(box, LB_SETCURSEL, 0, 0);
    return true;
}

void CloseStationDirectory(StationDirectory* directory) {
    // Rows point into the list: empty the box before the records go.
    if (directory->listBox) {
        SendMessageA(directory->listBox->listBox, LB_RESETCONTENT, 0, 0);
        delete directory->listBox;
        directory->listBox = nullptr;
    }
    ReleaseAndClear(directory->list);
}
