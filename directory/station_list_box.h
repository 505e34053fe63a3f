// The main window's station list: owner-drawn rows, one per station, and the
// Enter key turned into a message to the parent.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/scoped_handle.h"

struct ChannelEntry;

// Sent to the list box's parent when Enter is released on a station
// (lParam: the list box).
constexpr UINT WM_STATION_ENTER = WM_USER + 101;

// Drawing record shared by the two subclassed procedures through a window
// property on the list box and on its parent. It owns its drawing objects.
struct ListBoxStyle {
    ScopedGdi<HPEN> normalPen;
    ScopedGdi<HPEN> highlightPen;
    COLORREF normalTextColor = 0;
    COLORREF highlightTextColor = 0;
    ScopedGdi<HBRUSH> normalBrush;
    ScopedGdi<HBRUSH> highlightBrush;
    ScopedGdi<HFONT> boldFont;
    ScopedIcon playingIcon;
    WNDPROC parentProc = nullptr;
    WNDPROC listBoxProc = nullptr;
    HWND listBox = nullptr;
    HWND parent = nullptr;
    int32_t marginTop = 0;
    int32_t marginBottom = 0;
    int32_t marginLeft = 0;
    int32_t marginRight = 0;
};

class StationListBox {
public:
    // Takes over the drawing of listBox (owner-drawn, fixed rows, no strings);
    // icon 106 comes from instance.
    StationListBox(HWND listBox, HINSTANCE instance);
    // Hands both windows back to their own procedures and frees the drawing
    // objects; call before the parent is gone.
    ~StationListBox();
    StationListBox(const StationListBox&) = delete;
    StationListBox& operator=(const StationListBox&) = delete;

    bool SetUp();
    void AddChannel(ChannelEntry* channel);
    int32_t GetSelection() const;

    bool ready = false;
    HWND parent = nullptr;
    HWND listBox = nullptr;
    WNDPROC parentProc = nullptr;
    WNDPROC listBoxProc = nullptr;

private:
    HINSTANCE instance_;
    ListBoxStyle* style_ = nullptr;
};

// Name of the window property that carries the ListBoxStyle.
extern const char kListBoxStyleProperty[];
