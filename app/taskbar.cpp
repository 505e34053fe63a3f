#include "app/taskbar.h"

#include <cwchar>

namespace taskbar {

namespace {

constexpr UINT kButtonCount = 2;
constexpr UINT kPlayButton = 0;
constexpr UINT kStopButton = 1;
const THUMBBUTTONMASK kButtonParts = THB_ICON | THB_TOOLTIP | THB_FLAGS;  // 0xE
constexpr DWORD kWindows7Major = 6;
constexpr DWORD kWindows7Minor = 1;

// One per process: made on the UI thread in its apartment, used by the
// player's operations there too. Released only when a later one replaces it.
ITaskbarList3* g_object = nullptr;
Look g_look;

void FillButton(THUMBBUTTON& button, UINT id, HICON icon, const wchar_t* tip) {
    button = THUMBBUTTON{};
    button.dwMask = kButtonParts;
    button.iId = id;
    button.hIcon = icon;
    // At most 259 characters and the terminating zero.
    std::wcsncpy(button.szTip, tip ? tip : L"", sizeof button.szTip / sizeof button.szTip[0] - 1);
    button.dwFlags = THBF_ENABLED;
}

}  // namespace

HRESULT CreateShellTaskbar(ITaskbarList3** object) {
    return CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                            reinterpret_cast<void**>(object));
}

void OnButtonCreated(HWND window, DWORD osMajor, DWORD osMinor, const Look& look, Factory factory) {
    if (!(osMajor > kWindows7Major || (osMajor == kWindows7Major && osMinor >= kWindows7Minor)))
        return;
    if (g_object) {
        g_object->Release();
        g_object = nullptr;
    }
    ITaskbarList3* object = nullptr;
    if (FAILED(factory(&object))) object = nullptr;
    g_object = object;
    g_look = look;
    if (!g_object) return;
    g_object->HrInit();
    THUMBBUTTON buttons[kButtonCount];
    FillButton(buttons[0], kPlayButton, look.play, look.playTip);
    FillButton(buttons[1], kStopButton, look.stop, look.stopTip);
    g_object->ThumbBarAddButtons(window, kButtonCount, buttons);
}

void SetState(HWND window, playback::TaskbarState state) {
    if (!g_object) return;
    switch (state) {
    case playback::TaskbarState::Idle:
        g_object->SetOverlayIcon(window, nullptr, L"");
        g_object->SetProgressState(window, TBPF_NOPROGRESS);
        break;
    case playback::TaskbarState::Connecting:
        g_object->SetOverlayIcon(window, g_look.connecting, L"");
        g_object->SetProgressState(window, TBPF_INDETERMINATE);
        break;
    case playback::TaskbarState::Playing:
        g_object->SetProgressState(window, TBPF_NOPROGRESS);
        g_object->SetOverlayIcon(window, g_look.playing, L"");
        break;
    }
}

ITaskbarList3* Object() { return g_object; }

}  // namespace taskbar
