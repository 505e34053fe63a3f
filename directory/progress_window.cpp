// The library header brings in winsock2.h, which must come before windows.h.
#include "mivo/mivo.h"

#include "directory/progress_window.h"

#include "common/scoped_handle.h"

#include "common/main_dialog_ids.h"
#include "directory/progress_window_res.h"
#include "settings/string_ids.h"

namespace {

constexpr int kPictureSize = 48;

struct ProgressState {
    ScopedIcon picture;  // icon 101 at 48 x 48 for the white band
};

ProgressState* StateOf(HWND window) {
    return reinterpret_cast<ProgressState*>(GetWindowLongPtrA(window, DWLP_USER));
}

void OnInitDialog(HWND window, const DirectoryHost* host) {
    auto* state = new ProgressState;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    MIVO_UiSetFont(window, MIVO_FONT_NORMAL, 1, 0);
    SetWindowTextA(window, HostText(*host, IDS_PROGRESS_CAPTION));
    SetDlgItemTextA(window, IDC_PROGRESS_STATUS, HostText(*host, IDS_PROGRESS_PREPARING));
    state->picture.reset(static_cast<HICON>(LoadImageA(host->instance, MAKEINTRESOURCEA(IDI_APP),
                                                   IMAGE_ICON, kPictureSize, kPictureSize,
                                                   LR_DEFAULTCOLOR)));
    SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(
                                             LoadIconA(host->instance, MAKEINTRESOURCEA(IDI_APP))));
}

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window, reinterpret_cast<const DirectoryHost*>(lParam));
        return TRUE;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        ProgressState* state = StateOf(window);
        if (wParam != IDC_PROGRESS_PICTURE || item->CtlType != ODT_STATIC || !state) return FALSE;
        SetBkColor(item->hDC, RGB(255, 255, 255));
        if (state->picture)
            DrawIconEx(item->hDC, item->rcItem.left, item->rcItem.top, state->picture.get(),
                       kPictureSize, kPictureSize, 0, nullptr, DI_NORMAL);
        return TRUE;
    }
    case WM_DESTROY: {
        ProgressState* state = StateOf(window);
        if (state) {
            delete state;
            SetWindowLongPtrA(window, DWLP_USER, 0);
        }
        EndDialog(window, 1);
        return FALSE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

// No message loop runs while the list is fetched, so the window paints
// whatever changed at once instead of waiting for a WM_PAINT that never comes.
HWND CreateProgressWindow(const DirectoryHost* host) {
    HWND window = CreateDialogParamA(host->instance, MAKEINTRESOURCEA(DLG_PROGRESS), nullptr,
                                     ProgressWindowProc, reinterpret_cast<LPARAM>(host));
    if (window)
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return window;
}

void SetProgressStatus(HWND progressWindow, const char* text) {
    if (!progressWindow) return;
    SetDlgItemTextA(progressWindow, IDC_PROGRESS_STATUS, text);
    UpdateWindow(GetDlgItem(progressWindow, IDC_PROGRESS_STATUS));
}
