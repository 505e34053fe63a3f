// Shows the test main window with a served station list for a look or a
// screenshot: directory_showcase URL [PLAYING-ROW] [SECONDS] [SELECTED-ROW].
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "app/res/resource.h"
#include "directory/station_directory.h"
#include "fixtures.h"

namespace {

constexpr DWORD kDefaultSeconds = 20;

INT_PTR CALLBACK ShowcaseProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_MAIN),
                                     nullptr, ShowcaseProc, 0);
    if (!dialog) return 1;
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    StationDirectory directory;
    if (!OpenStationDirectory(dialog, dirtest::TestHost(), folder, argv[1], &directory)) return 1;
    int playing = argc > 2 ? std::atoi(argv[2]) : -1;
    if (ChannelEntry* entry = directory.list->GetChannel(playing)) entry->playing = true;
    if (argc > 4) SendMessageA(directory.listBox->listBox, LB_SETCURSEL, std::atoi(argv[4]), 0);
    ShowWindow(dialog, SW_SHOW);
    DWORD seconds = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : kDefaultSeconds;
    DWORD start = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - start < seconds * 1000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    CloseStationDirectory(&directory);
    if (IsWindow(dialog)) DestroyWindow(dialog);
    return 0;
}
