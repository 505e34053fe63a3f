// Fetches the station list file over HTTP into the program directory.
#pragma once

#include <windows.h>

#include "directory/text_source.h"

// Transfers the file at url into localPath, showing the progress in
// progressWindow when there is one. True when every byte was stored; on a
// failed transfer a file it had created is deleted again.
bool DownloadStationFile(const char* url, const char* localPath, HWND progressWindow,
                         const DirectoryHost& host);
