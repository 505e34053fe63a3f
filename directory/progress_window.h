// The small window that shows the station list being fetched and read.
#pragma once

#include <windows.h>

#include "directory/text_source.h"

// Creates the progress window (dialog 3100 of host.instance), modeless and
// without owner; null when it cannot be made. host must outlive the window.
HWND CreateProgressWindow(const DirectoryHost* host);

// Shows a status line; does nothing without a window.
void SetProgressStatus(HWND progressWindow, const char* text);
