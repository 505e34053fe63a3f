// The station list steps of the main window: fetch the directory, fill the
// list box, and let go of both when the window closes.
#pragma once

#include <windows.h>

#include "directory/channel_list.h"
#include "directory/station_list_box.h"
#include "directory/text_source.h"

// The address of our station directory, fixed at build time.
extern const char kDirectoryUrl[];

constexpr size_t kLocalPathSize = 520;
constexpr char kLocalFileName[] = "channels.xml";

struct StationDirectory {
    StationListBox* listBox = nullptr;
    CChannelList* list = nullptr;
};

// Makes the list box object on control 3004 of mainWindow, then loads the
// station list from url (when null: kDirectoryUrl, or in a test build the
// address ORVANTIS_DIRECTORY_URL names in the environment) into
// programDirectory, asking with text 5061 whether to try again while it holds
// no station. Adds every station in file order and selects the first. False
// when the user declined to try again: the caller then destroys its window.
bool OpenStationDirectory(HWND mainWindow, const DirectoryHost& host, const char* programDirectory,
                          const char* url, StationDirectory* directory);

// Releases the list and hands the list box back; for the main window's shutdown.
void CloseStationDirectory(StationDirectory* directory);
