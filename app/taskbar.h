// The taskbar button on Windows 7 and later: play and stop thumbnail buttons
// and an overlay that shows whether a station connects or plays. The shell
// announces the button with a registered message; each arrival makes a new
// taskbar object (the shell's taskbar may have been re-created).
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "playback/stream_player.h"

namespace taskbar {

struct Look {
    HICON play = nullptr;        // thumbnail button 0 (icon 104)
    HICON stop = nullptr;        // thumbnail button 1 (icon 105)
    const wchar_t* playTip = L"";
    const wchar_t* stopTip = L"";
    HICON playing = nullptr;     // overlay while playing (106)
    HICON connecting = nullptr;  // overlay while connecting (107)
};

// Makes the shell's taskbar list object (tests pass one of their own).
using Factory = HRESULT (*)(ITaskbarList3** object);
HRESULT CreateShellTaskbar(ITaskbarList3** object);

// The registered message arrived: on Windows 7 or later (major > 6, or 6 and
// minor > 0) the object is replaced and the two buttons added to it.
void OnButtonCreated(HWND window, DWORD osMajor, DWORD osMinor, const Look& look,
                     Factory factory = CreateShellTaskbar);
// Idle, connecting or playing; nothing without an object.
void SetState(HWND window, playback::TaskbarState state);
// The object, null until the first registration made one.
ITaskbarList3* Object();

}  // namespace taskbar
