// Centring and the library-wide fonts (ordinals 13 and 16).
#include "mivo.h"

#include <cstddef>
#include <cstring>

#include "ui_geometry.h"

namespace {

// Fonts handed out, kept by description: the dialogs ask for the same few
// (normal, bold, bold 25 high, fixed) every time they open, and get the same
// handles back. A handle is never deleted, because controls may still draw
// with it; past kFontCacheSize distinct fonts the oldest entry is forgotten.
struct CachedFont {
    LOGFONTA description;
    HFONT font;
};
constexpr int kFontCacheSize = 16;
CachedFont g_fonts[kFontCacheSize] = {};
int g_nextFont = 0;

// The three library-wide slots, set by every call.
HFONT g_fixedFont = nullptr;
HFONT g_normalFont = nullptr;
HFONT g_boldFont = nullptr;

constexpr BYTE kFixedPitchModern = FIXED_PITCH | FF_MODERN;  // 0x31
constexpr LONG kBoldWeight = FW_BOLD;
constexpr DWORD kFirstFullMetricsMajor = 6;  // the padded-border field came with version 6

HFONT FontFor(const LOGFONTA& description) {
    for (const CachedFont& cached : g_fonts) {
        if (cached.font != nullptr && std::memcmp(&cached.description, &description, sizeof description) == 0) {
            return cached.font;
        }
    }
    HFONT font = CreateFontIndirectA(&description);
    if (font == nullptr) return nullptr;
    g_fonts[g_nextFont] = CachedFont{description, font};
    g_nextFont = (g_nextFont + 1) % kFontCacheSize;
    return font;
}

bool ReadMessageFont(LOGFONTA* font) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = version.dwMajorVersion < kFirstFullMetricsMajor
                         ? offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth)
                         : sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return false;
    *font = metrics.lfMessageFont;
    return true;
}

}  // namespace

MIVO_API HWND WINAPI MIVO_UiCenterWindow(HWND window, HWND reference) {
    // Taken first: focusing another top-level window activates it on the way,
    // and what SetFocus reports afterwards depends on the platform.
    HWND focused = GetFocus();
    if (reference == nullptr) reference = GetParent(window);
    RECT own = {};
    GetWindowRect(window, &own);
    RECT over = {};
    UINT zorder = 0;
    if (reference != nullptr) {
        GetWindowRect(reference, &over);
    } else {
        // Nothing to centre over: use the work area of the window's monitor.
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
        over = monitor.rcWork;
        zorder = SWP_NOZORDER;
    }
    POINT place{mivo::CentredStart(over.left, over.right - over.left, own.right - own.left),
                mivo::CentredStart(over.top, over.bottom - over.top, own.bottom - own.top)};
    if (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) {
        // A child is placed in its parent's client coordinates, and its parent
        // is no sibling to be put behind.
        ScreenToClient(GetParent(window), &place);
        zorder = SWP_NOZORDER;
    }
    // Moving must not activate: the focus we report is the one before the call.
    SetWindowPos(window, reference, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | zorder);
    SetFocus(window);
    return focused;
}

MIVO_API int WINAPI MIVO_UiSetFont(HWND window, int kind, int children, int height) {
    LOGFONTA message = {};
    if (!ReadMessageFont(&message)) return 0;
    if (height > 0) {
        message.lfHeight = height;
        message.lfWidth = 0;  // let the font mapper choose the width for that height
    }
    LOGFONTA fixed = message;
    fixed.lfFaceName[0] = '\0';
    fixed.lfPitchAndFamily = kFixedPitchModern;
    LOGFONTA bold = message;
    bold.lfWeight = kBoldWeight;

    g_fixedFont = FontFor(fixed);
    g_normalFont = FontFor(message);
    g_boldFont = FontFor(bold);
    HFONT chosen = kind == MIVO_FONT_FIXED ? g_fixedFont : kind == MIVO_FONT_BOLD ? g_boldFont : g_normalFont;

    if (children == 0) {
        SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), TRUE);
        return 0;
    }
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), TRUE);
    }
    return 0;
}
