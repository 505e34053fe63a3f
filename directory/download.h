// Fetches the station list file over HTTP into the program directory.
#pragma once

#include <windows.h>

#include "directory/text_source.h"

#include <cstdint>

// Bounds of one transfer: a server that drips its body or never ends it must
// not hold the start-up for ever, nor fill the disk.
struct DownloadLimits {
    DWORD deadlineMs = 60 * 1000;           // the whole transfer, from the request on
    int64_t maxBytes = 64 * 1024 * 1024;    // far above any real station list
};

// Transfers the file at url into localPath, showing the progress in
// progressWindow when there is one; always a fresh copy from the server, never
// one from the cache. True when every byte was stored within the limits; on a
// failed transfer a file it had created is deleted again.
bool DownloadStationFile(const char* url, const char* localPath, HWND progressWindow,
                         const DirectoryHost& host, const DownloadLimits& limits = {});
