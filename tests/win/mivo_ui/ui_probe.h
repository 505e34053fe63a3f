// Helpers for reading windows that the code under test creates in this process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace uiprobe {

// Polls until done() holds or timeoutMs pass; true when it held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A visible top-level window of this process with that class and caption, or null.
HWND FindOwnWindow(const char* className, const char* caption);

// Waits for such a window.
HWND WaitForWindow(const char* className, const char* caption, int timeoutMs = 10000);

std::string TextOf(HWND window);

// A control's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control);

// Pixels of a 32-bit top-down bitmap, 0x00RRGGBB each.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> data;

    DWORD At(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
    int Count(COLORREF colour) const;
    // Longest horizontal run of that colour in any row.
    int LongestRun(COLORREF colour) const;
};

// Renders into a width x height bitmap with draw(dc).
Pixels Render(int width, int height, const std::function<void(HDC)>& draw);

// A top-level window that only answers WM_SETFONT/WM_GETFONT (a static control
// works as such a parent), client area width x height at x, y. Hidden unless
// the test needs it on screen: hiding a shown window costs Wine a wait for the
// (absent) window manager.
HWND MakeParent(int x, int y, int width, int height, bool visible = false);

}  // namespace uiprobe
