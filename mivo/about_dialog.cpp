// The About box (ordinal 3): the program's name, version, build and credits,
// with an optional web link.
#include "mivo.h"

#include <cstdio>
#include <initializer_list>

#include "dialog_common.h"
#include "library.h"
#include "resource.h"

namespace {

// The record of the open About box; one can be open at a time.
const MIVO_DlgInfo* g_about = nullptr;

constexpr std::size_t kCaptionSize = 128;
constexpr std::size_t kNumberSize = 16;
constexpr COLORREF kLinkColour = 0x3B3B3B;
constexpr COLORREF kLinkHoverColour = 0x0000FF;
constexpr COLORREF kLinkBackground = 0xFFFFFF;
constexpr UINT32 kLinkFontStyle = 1;  // the dialog's font, never underlined
constexpr UINT32 kLinkFormat = DT_SINGLELINE | DT_VCENTER;

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

void AddLink(HWND dialog, const MIVO_DlgInfo& info) {
    HWND place = GetDlgItem(dialog, IDC_ABOUT_LINK_PLACE);
    ShowWindow(place, SW_HIDE);
    if (info.linkText == nullptr || info.linkUrl == nullptr || info.linkTooltip == nullptr) return;
    RECT rect = {};
    GetWindowRect(place, &rect);
    POINT corner{rect.left, rect.top};
    ScreenToClient(dialog, &corner);
    MIVO_HypCtrlInfo link;
    if (!MIVO_UiHypCtrlInit(&link)) return;
    link.textColour = kLinkColour;
    link.hoverTextColour = kLinkHoverColour;
    link.backgroundColour = kLinkBackground;
    link.hoverBackgroundColour = kLinkBackground;
    link.fontStyle = kLinkFontStyle;
    link.format = kLinkFormat;
    link.text = info.linkText;
    link.url = info.linkUrl;
    link.tooltip = info.linkTooltip;
    MIVO_UiHypCtrlCreate(dialog, &link, corner.x, corner.y, rect.right - rect.left, rect.bottom - rect.top);
}

void Initialise(HWND dialog, const MIVO_DlgInfo& info) {
    SendDlgItemMessageA(dialog, IDC_ABOUT_HEADER_ICON, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(info.icon));

    MIVO_UiSetFont(dialog, MIVO_FONT_NORMAL, 1, 0);
    MIVO_UiSetFont(GetDlgItem(dialog, IDC_ABOUT_HEADER_TEXT), MIVO_FONT_BOLD, 0, mivo::kHeaderFontHeight);
    for (int label : {IDC_ABOUT_VERSION_LABEL, IDC_ABOUT_BUILD_LABEL, IDC_ABOUT_RIGHTS_LABEL,
                      IDC_ABOUT_IDEA_LABEL, IDC_ABOUT_PROGRAMMER_LABEL}) {
        MIVO_UiSetFont(GetDlgItem(dialog, label), MIVO_FONT_BOLD, 0, 0);
    }

    char caption[kCaptionSize];
    snprintf(caption, sizeof caption, "%s v%s", OrEmpty(info.name), OrEmpty(info.version));
    SetWindowTextA(dialog, caption);
    char build[kNumberSize];
    snprintf(build, sizeof build, "%d", static_cast<int>(static_cast<UINT32>(info.build)));
    SetDlgItemTextA(dialog, IDC_ABOUT_HEADER_TEXT, OrEmpty(info.name));
    SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, OrEmpty(info.version));
    SetDlgItemTextA(dialog, IDC_ABOUT_BUILD, build);
    SetDlgItemTextA(dialog, IDC_ABOUT_RIGHTS, OrEmpty(info.rights));
    SetDlgItemTextA(dialog, IDC_ABOUT_IDEA, OrEmpty(info.ideaCredit));
    SetDlgItemTextA(dialog, IDC_ABOUT_PROGRAMMER, OrEmpty(info.programmerCredit));

    AddLink(dialog, info);
    MIVO_UiCenterWindow(dialog, info.parent);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        g_about = reinterpret_cast<const MIVO_DlgInfo*>(lParam);
        Initialise(dialog, *g_about);
        return FALSE;  // the focus is set
    case WM_DRAWITEM:
        return g_about != nullptr &&
               mivo::DrawDialogHeader(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), IDC_ABOUT_HEADER_TEXT,
                                      IDC_ABOUT_HEADER_ICON, g_about->name, g_about->icon);
    case WM_COMMAND:
        // Only the OK button closes; Enter and Escape do nothing.
        if (LOWORD(wParam) == IDC_ABOUT_OK) mivo::CloseLibraryDialog(dialog);
        return TRUE;
    case WM_CLOSE:
        mivo::CloseLibraryDialog(dialog);
        return TRUE;
    case WM_DESTROY:
        if (g_about != nullptr) mivo::RestoreOwner(g_about->parent);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

MIVO_API INT_PTR WINAPI MIVO_DlgAbout(MIVO_DlgInfo* info) {
    if (info == nullptr || g_about != nullptr) return -1;
    const INT_PTR result = DialogBoxParamA(mivo::LibraryInstance(), MAKEINTRESOURCEA(IDD_MIVO_ABOUT), info->parent,
                                           &AboutProc, reinterpret_cast<LPARAM>(info));
    g_about = nullptr;
    return result;
}
