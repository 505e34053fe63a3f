// Resource, control, text and message numbers the station directory shares
// with the program's resources and main window.
#pragma once

#include <windows.h>

// Progress window (the program's dialog resource).
constexpr int kProgressDialogId = 3100;
constexpr int kProgressBandId = 3101;
constexpr int kProgressSeparatorId = 3102;
constexpr int kProgressIconId = 3103;
constexpr int kProgressBarId = 3105;
constexpr int kProgressStatusId = 3106;

// The main window's station list box.
constexpr int kStationListBoxId = 3004;

// Icons of the executable.
constexpr int kAppIconId = 101;
constexpr int kPlayingIconId = 106;

// Texts by ID from the language library.
constexpr int kTextProgressCaption = 5030;
constexpr int kTextProgressWaiting = 5031;
constexpr int kTextConnecting = 5032;
constexpr int kTextDownloading = 5033;
constexpr int kTextParsing = 5034;
constexpr int kTextDownloadFailed = 5060;
constexpr int kTextRetryQuestion = 5061;
constexpr int kTextListUnreadable = 5062;
constexpr int kTextListTooOld = 5063;
constexpr int kTextListNoVersion = 5064;

// Sent to the list box's parent when Enter is released on a station.
constexpr UINT WM_STATION_ENTER = WM_USER + 101;
