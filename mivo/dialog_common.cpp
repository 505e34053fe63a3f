#include "dialog_common.h"

#include "common/scoped_handle.h"

namespace mivo {

namespace {

constexpr COLORREF kHeaderTextColour = 0x595959;
constexpr COLORREF kHeaderBackground = 0xFFFFFF;
constexpr int kHeaderTextX = 1;
constexpr int kHeaderIconSize = 48;

}  // namespace

bool DrawDialogHeader(const DRAWITEMSTRUCT& item, int textId, int iconId, const char* name, HICON icon) {
    const int id = static_cast<int>(item.CtlID);
    if (id != textId && id != iconId) return false;
    ScopedGdi<HBRUSH> white(CreateSolidBrush(kHeaderBackground));
    FillRect(item.hDC, &item.rcItem, white.get());
    if (id == iconId) {
        if (icon != nullptr) DrawIconEx(item.hDC, 0, 0, icon, kHeaderIconSize, kHeaderIconSize, 0, nullptr, DI_NORMAL);
        return true;
    }
    if (name == nullptr) return true;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(item.hwndItem, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font != nullptr ? SelectObject(item.hDC, font) : nullptr;
    SetTextColor(item.hDC, kHeaderTextColour);
    SetBkColor(item.hDC, kHeaderBackground);
    SetBkMode(item.hDC, TRANSPARENT);
    TextOutA(item.hDC, kHeaderTextX, item.rcItem.bottom - kHeaderFontHeight, name, lstrlenA(name));
    if (previous != nullptr) SelectObject(item.hDC, previous);
    return true;
}

void CloseLibraryDialog(HWND dialog) { EndDialog(dialog, kDialogClosed); }

void RestoreOwner(HWND owner) {
    if (owner == nullptr) return;
    SetFocus(owner);
    BringWindowToTop(owner);
}

}  // namespace mivo
