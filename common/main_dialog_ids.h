// The main window's dialog, control and icon ids: shared by the window
// (app/), the stream player (playback/) and the station list (directory/),
// and by the program's resources.
#pragma once

// Icons.
#define IDI_APP 101
#define IDI_PLAY 102
#define IDI_STOP 103
#define IDI_THUMB_PLAY 104
#define IDI_THUMB_STOP 105
#define IDI_OVERLAY_PLAYING 106
#define IDI_OVERLAY_CONNECTING 107

// Main window.
#define DLG_MAIN 3000
#define IDC_BAND 3001
#define IDC_BAND_LINE 3002
#define IDC_PICTURE 3003
#define IDC_STATIONS 3004
#define IDC_LEFT_CAPTION 3005
#define IDC_LEFT_METER 3006
#define IDC_RIGHT_CAPTION 3007
#define IDC_RIGHT_METER 3008
#define IDC_PLAY 3009
#define IDC_INFO_GROUP 3010
#define IDC_NAME_LABEL 3011
#define IDC_NAME 3012
#define IDC_TITLE_LABEL 3013
#define IDC_TITLE 3014
#define IDC_BITRATE_LABEL 3015
#define IDC_BITRATE 3016
#define IDC_VOLUME_LABEL 3018
#define IDC_VOLUME 3019
#define IDC_VOLUME_VALUE 3020
#define IDC_BALANCE_LABEL 3021
#define IDC_BALANCE 3022
#define IDC_BALANCE_VALUE 3023
