// What the library's two dialogs share: the white header with the program's
// name and icon, and the way they close.
#pragma once

#include <windows.h>

namespace mivo {

// Modal result of both dialogs after a normal close.
constexpr INT_PTR kDialogClosed = 1;
// Height of the bold header font.
constexpr int kHeaderFontHeight = 25;

// Owner drawing of the header: the name in the text control's own font, the
// icon in 48 by 48 pixels. True when the item was one of the two.
bool DrawDialogHeader(const DRAWITEMSTRUCT& item, int textId, int iconId, const char* name, HICON icon);

// Ends the dialog with kDialogClosed and lets the dialog manager destroy it:
// some modal loops report 0 for a dialog destroyed while they run.
void CloseLibraryDialog(HWND dialog);

// On destruction: hand the focus back to the owner and bring it to the top.
void RestoreOwner(HWND owner);

}  // namespace mivo
