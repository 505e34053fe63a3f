// Resource ids of the station list's progress window: its dialog template
// (progress_window.rc, part of the program's resources) and its controls.
#pragma once

#define DLG_PROGRESS 3100
#define IDC_PROGRESS_BAND 3101
#define IDC_PROGRESS_BAND_LINE 3102
#define IDC_PROGRESS_PICTURE 3103
#define IDC_PROGRESS_BAR 3105
#define IDC_PROGRESS_STATUS 3106
