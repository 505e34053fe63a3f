// The hyperlink control (ordinals 14 and 15): a line of text that looks like a
// web link, changes colour under the mouse and opens its URL or calls back.
#include "mivo.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/scoped_handle.h"
#include "common/text.h"
#include "hyperlink_layout.h"

namespace {

using namespace mivo::hyperlink;

// Module the class was registered in; null until MIVO_UiHypCtrlInit ran.
HINSTANCE g_classInstance = nullptr;

constexpr COLORREF kDefaultTextColour = 0xFF0000;   // blue
constexpr COLORREF kDefaultHoverColour = 0x0000FF;  // red
constexpr UINT32 kDefaultFontStyle = kStyleUnderlined;

MIVO_HypCtrlInfo* RecordOf(HWND control) {
    return reinterpret_cast<MIVO_HypCtrlInfo*>(GetWindowLongPtrA(control, kRecordOffset));
}

RECT TextRectOf(HWND control) {
    return RECT{GetWindowLongA(control, kRectOffset), GetWindowLongA(control, kRectOffset + 4),
                GetWindowLongA(control, kRectOffset + 8), GetWindowLongA(control, kRectOffset + 12)};
}

void SetTextRect(HWND control, const RECT& rect) {
    SetWindowLongA(control, kRectOffset, rect.left);
    SetWindowLongA(control, kRectOffset + 4, rect.top);
    SetWindowLongA(control, kRectOffset + 8, rect.right);
    SetWindowLongA(control, kRectOffset + 12, rect.bottom);
}

HFONT FontAt(HWND control, int offset) {
    return reinterpret_cast<HFONT>(GetWindowLongPtrA(control, offset));
}

bool Hovered(HWND control) { return GetWindowWord(control, kHoverOffset) != 0; }

void SetHovered(HWND control, bool hovered) { SetWindowWord(control, kHoverOffset, hovered ? 1 : 0); }

// The record's texts are the control's own copies; the text is the URL when
// none was given, and then it is freed only once.
void FreeRecord(MIVO_HypCtrlInfo* record) {
    if (record == nullptr) return;
    if (record->text != record->url) std::free(const_cast<char*>(record->text));
    std::free(const_cast<char*>(record->url));
    std::free(const_cast<char*>(record->tooltip));
    std::free(record);
}

void Paint(HWND control, HDC dc) {
    const MIVO_HypCtrlInfo* record = RecordOf(control);
    if (record == nullptr) return;
    const bool hovered = Hovered(control);
    HFONT font = FontAt(control, hovered ? kHoverFontOffset : kNormalFontOffset);
    HGDIOBJ previousFont = font != nullptr ? SelectObject(dc, font) : nullptr;
    const COLORREF background = hovered ? record->hoverBackgroundColour : record->backgroundColour;
    SetTextColor(dc, hovered ? record->hoverTextColour : record->textColour);
    SetBkColor(dc, background);
    SetBkMode(dc, OPAQUE);

    // The class has no background brush: fill the whole control in the
    // current background so no stale pixels show around the text.
    RECT client = {};
    GetClientRect(control, &client);
    ScopedGdi<HBRUSH> brush(CreateSolidBrush(background));
    FillRect(dc, &client, brush.get());

    RECT rect = TextRectOf(control);
    const char* text = record->text != nullptr ? record->text : record->url;
    if (text != nullptr) DrawTextA(dc, text, -1, &rect, record->format);
    if (previousFont != nullptr) SelectObject(dc, previousFont);
}

void Release(HWND control) {
    FreeRecord(RecordOf(control));
    SetWindowLongPtrA(control, kRecordOffset, 0);
    for (int offset : {kNormalFontOffset, kHoverFontOffset}) {
        HFONT font = FontAt(control, offset);
        if (font != nullptr) DeleteObject(font);
        SetWindowLongPtrA(control, offset, 0);
    }
    HWND tooltip = reinterpret_cast<HWND>(GetWindowLongPtrA(control, kTooltipOffset));
    if (tooltip != nullptr) DestroyWindow(tooltip);
    SetWindowLongPtrA(control, kTooltipOffset, 0);
}

LRESULT CALLBACK HyperlinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(control, &paint);
        Paint(control, dc);
        EndPaint(control, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(control, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_MOUSEMOVE: {
        RECT rect = TextRectOf(control);
        if (!Hovered(control)) {
            SetHovered(control, true);
            InvalidateRect(control, &rect, TRUE);
            SetCapture(control);
        } else {
            // Under capture the position is still in our client coordinates,
            // also when the mouse is outside the control.
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (!PtInRect(&rect, at)) {
                SetHovered(control, false);
                InvalidateRect(control, &rect, TRUE);
                ReleaseCapture();
            }
        }
        return 0;
    }
    case WM_LBUTTONUP: {
        const MIVO_HypCtrlInfo* record = RecordOf(control);
        if (record == nullptr) return 0;
        if (record->callback != nullptr) {
            record->callback(record->callbackValue);
        } else if (record->url != nullptr) {
            ShellExecuteA(nullptr, "open", record->url, nullptr, nullptr, SW_SHOW);
        }
        return 0;
    }
    case WM_CAPTURECHANGED:
        SetHovered(control, false);
        InvalidateRect(control, nullptr, TRUE);
        return 0;
    case WM_CLOSE:
        DestroyWindow(control);
        return 0;
    case WM_NCDESTROY:
        // Also reached when the parent destroys us without a close message.
        Release(control);
        break;
    default:
        break;
    }
    return DefWindowProcA(control, message, wParam, lParam);
}

// Normal and hover fonts from the parent's font by the record's style; none
// (the default font) when the parent has no font or the style is unknown.
void CreateFonts(HWND control, HWND parent, UINT32 style) {
    HFONT parentFont = reinterpret_cast<HFONT>(SendMessageA(parent, WM_GETFONT, 0, 0));
    if (parentFont == nullptr || style > kStyleUnderlined) return;
    LOGFONTA plain = {};
    if (GetObjectA(parentFont, sizeof plain, &plain) == 0) return;
    LOGFONTA underlined = plain;
    underlined.lfUnderline = TRUE;
    const LOGFONTA& normal = style == kStyleUnderlined ? underlined : plain;
    const LOGFONTA& hover = style == kStyleParentFont ? plain : underlined;
    SetWindowLongPtrA(control, kNormalFontOffset, reinterpret_cast<LONG_PTR>(CreateFontIndirectA(&normal)));
    SetWindowLongPtrA(control, kHoverFontOffset, reinterpret_cast<LONG_PTR>(CreateFontIndirectA(&hover)));
}

void FitToText(HWND control, const MIVO_HypCtrlInfo& record, RECT* rect) {
    HDC dc = GetDC(control);
    HFONT font = FontAt(control, kNormalFontOffset);
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    const char* text = record.text != nullptr ? record.text : record.url;
    RECT extent = {0, 0, 0, 0};
    DrawTextA(dc, text, -1, &extent, record.format | DT_CALCRECT);
    if (previous != nullptr) SelectObject(dc, previous);
    ReleaseDC(control, dc);
    *rect = extent;
    SetWindowPos(control, nullptr, 0, 0, extent.right - extent.left, extent.bottom - extent.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool AddTooltip(HWND control, const MIVO_HypCtrlInfo& record, const RECT& rect) {
    HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, control, nullptr,
                                   g_classInstance, nullptr);
    if (tooltip == nullptr) return false;
    SetWindowLongPtrA(control, kTooltipOffset, reinterpret_cast<LONG_PTR>(tooltip));
    SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;  // understood by every common-controls version
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = control;
    tool.rect = rect;
    tool.lpszText = const_cast<char*>(record.tooltip);
    SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    return true;
}

}  // namespace

MIVO_API int WINAPI MIVO_UiHypCtrlInit(MIVO_HypCtrlInfo* info) {
    if (info == nullptr) return 0;
    HINSTANCE program = GetModuleHandleA(nullptr);
    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExA(program, kClassName, &existing)) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &HyperlinkProc;
        wc.cbWndExtra = kExtraBytes;
        wc.hInstance = program;
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));
        wc.lpszClassName = kClassName;
        if (RegisterClassExA(&wc) == 0) return 0;
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
    }
    g_classInstance = program;

    *info = MIVO_HypCtrlInfo{};
    info->textColour = kDefaultTextColour;
    info->hoverTextColour = kDefaultHoverColour;
    info->backgroundColour = GetSysColor(COLOR_BTNFACE);
    info->hoverBackgroundColour = GetSysColor(COLOR_BTNFACE);
    info->fontStyle = kDefaultFontStyle;
    return 1;
}

MIVO_API HWND WINAPI MIVO_UiHypCtrlCreate(HWND parent, const MIVO_HypCtrlInfo* info, int x, int y,
                                          int width, int height) {
    if (g_classInstance == nullptr || parent == nullptr || info == nullptr) return nullptr;
    const char* required = info->callback != nullptr ? info->text : info->url;
    if (required == nullptr) return nullptr;

    HWND control = CreateWindowExA(0, kClassName, nullptr, WS_CHILD, x, y, width, height, parent,
                                   nullptr, g_classInstance, nullptr);
    if (control == nullptr) return nullptr;

    auto* record = static_cast<MIVO_HypCtrlInfo*>(std::calloc(1, sizeof(MIVO_HypCtrlInfo)));
    bool copied = record != nullptr;
    if (copied) {
        *record = *info;
        record->url = nullptr;
        record->text = nullptr;
        record->tooltip = nullptr;
        if (info->callback == nullptr && info->url != nullptr) copied = (record->url = DuplicateString(info->url)) != nullptr;
        if (copied && info->text != nullptr) {
            copied = (record->text = DuplicateString(info->text)) != nullptr;
        } else if (copied && info->callback == nullptr) {
            record->text = record->url;
        }
        if (copied && info->tooltip != nullptr) copied = (record->tooltip = DuplicateString(info->tooltip)) != nullptr;
    }
    if (!copied) {
        FreeRecord(record);
        DestroyWindow(control);
        return nullptr;
    }
    SetWindowLongPtrA(control, kRecordOffset, reinterpret_cast<LONG_PTR>(record));
    SetHovered(control, false);

    CreateFonts(control, parent, record->fontStyle);
    RECT rect = {};
    GetClientRect(control, &rect);
    if (record->autoSize != 0) FitToText(control, *record, &rect);
    SetTextRect(control, rect);

    // A control whose tooltip cannot be made is not what the caller asked
    // for: report failure and leave nothing behind.
    if (record->tooltip != nullptr && !AddTooltip(control, *record, rect)) {
        DestroyWindow(control);
        return nullptr;
    }
    ShowWindow(control, SW_SHOWNORMAL);
    UpdateWindow(control);
    return control;
}
