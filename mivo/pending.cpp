// NOT YET BUILT: the dialog, resizer, font and hyperlink services (ordinals 3, 4
// and 12 to 16). They exist with their final signatures so the export table is
// complete, and every one reports failure until it is written.
#include "mivo.h"

MIVO_API INT_PTR WINAPI MIVO_DlgAbout(MIVO_DlgInfo*) { return -1; }

MIVO_API INT_PTR WINAPI MIVO_DlgModules(MIVO_DlgInfo*) { return -1; }

MIVO_API int WINAPI MIVO_UiResize(HINSTANCE, HWND, UINT32, int, const MIVO_ResizeItem*, int) {
    return 0;
}

MIVO_API HWND WINAPI MIVO_UiCenterWindow(HWND, HWND) { return nullptr; }

MIVO_API int WINAPI MIVO_UiHypCtrlInit(MIVO_HypCtrlInfo*) { return 0; }

MIVO_API HWND WINAPI MIVO_UiHypCtrlCreate(HWND, const MIVO_HypCtrlInfo*, int, int, int, int) {
    return nullptr;
}

MIVO_API int WINAPI MIVO_UiSetFont(HWND, int, int, int) { return 0; }
