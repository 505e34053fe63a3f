// Check marks and enabling of menu items by command id.
#pragma once

#include <windows.h>

inline void SetMenuCheck(HMENU menu, UINT command, bool on) {
    CheckMenuItem(menu, command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

inline void SetMenuEnabled(HMENU menu, UINT command, bool on) {
    EnableMenuItem(menu, command, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}
