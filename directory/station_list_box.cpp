#include "directory/station_list_box.h"

#include <vector>

#include "directory/channel_list_model.h"
#include "common/main_dialog_ids.h"

const char kListBoxStyleProperty[] = "TavinLibraryGuiListbox";

namespace {

constexpr COLORREF kNormalFill = RGB(225, 225, 225);
constexpr COLORREF kHighlightFill = RGB(89, 89, 89);
constexpr COLORREF kNormalText = RGB(0, 0, 0);
constexpr COLORREF kHighlightText = RGB(255, 255, 255);
constexpr int kBoldWeight = 700;
constexpr int kIconSize = 16;
constexpr int kIconInset = 20;  // icon's left edge from the row's right end
constexpr int kVerticalMargin = 3;
constexpr int kHorizontalMargin = 5;
// Older systems know the metrics structure without its last field.
constexpr UINT kMetricsSizeXp = 340;
constexpr UINT kMetricsSize = 344;
constexpr UINT kRowTextFormat =
    DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX | DT_END_ELLIPSIS;

ListBoxStyle* StyleOf(HWND window) {
    return static_cast<ListBoxStyle*>(GetPropA(window, kListBoxStyleProperty));
}

// Station names are UTF-8; the row shows them as such, not as ANSI bytes.
void DrawName(HDC dc, const char* name, RECT* area) {
    if (!name || !*name) return;
    int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    if (length <= 0) return;
    std::vector<wchar_t> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), length);
    DrawTextW(dc, wide.data(), -1, area, kRowTextFormat);
}

// One look of a row: fill, border and text in the given pen, brush and colour.
void PaintRow(HDC dc, const ListBoxStyle& style, const RECT& row, RECT text, const char* name,
              bool highlight, bool playing) {
    SelectObject(dc, highlight ? style.highlightPen.get() : style.normalPen.get());
    SelectObject(dc, highlight ? style.highlightBrush.get() : style.normalBrush.get());
    HGDIOBJ oldFont = playing ? SelectObject(dc, style.boldFont.get()) : nullptr;
    Rectangle(dc, row.left + 1, row.top + 1, row.right - 1, row.bottom - 1);
    SetTextColor(dc, highlight ? style.highlightTextColor : style.normalTextColor);
    DrawName(dc, name, &text);
    if (playing) {
        int x = row.right - kIconInset;
        int y = row.top + (row.bottom - row.top) / 2 - kIconSize / 2;
        DrawIconEx(dc, x, y, style.playingIcon.get(), kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
        SelectObject(dc, oldFont);
    }
}

void DrawStationRow(const ListBoxStyle& style, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT& row = item.rcItem;
    RECT text = {row.left + style.marginLeft, row.top + style.marginTop,
                 row.right - style.marginRight, row.bottom - style.marginBottom};
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, 0);
    // Focus changes draw nothing: the rows never show a focus rectangle.
    if (!(item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) return;

    auto* station = reinterpret_cast<const ChannelEntry*>(item.itemData);
    const char* name = station ? station->name : nullptr;
    bool playing = station && station->playing;
    COLORREF oldColor = GetTextColor(dc);
    HGDIOBJ oldBrush = GetCurrentObject(dc, OBJ_BRUSH);
    HGDIOBJ oldPen = GetCurrentObject(dc, OBJ_PEN);

    // A playing row looks the same whether it is selected or not.
    PaintRow(dc, style, row, text, name, playing, playing);
    if (item.itemState & ODS_SELECTED) PaintRow(dc, style, row, text, name, true, playing);

    SetTextColor(dc, oldColor);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ListBoxStyle* style = StyleOf(window);
    if (!style) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_DRAWITEM) {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->itemID != static_cast<UINT>(-1) && item->CtlType == ODT_LISTBOX &&
            item->hwndItem == style->listBox) {
            DrawStationRow(*style, *item);
            return TRUE;
        }
    }
    // The style may be freed inside this call (the parent's shutdown), so it
    // is not touched afterwards.
    return CallWindowProcA(style->parentProc, window, message, wParam, lParam);
}

LRESULT CALLBACK ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ListBoxStyle* style = StyleOf(window);
    if (!style) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_SIZE) {
        InvalidateRect(style->listBox, nullptr, TRUE);
    } else if (message == WM_KEYUP && wParam == VK_RETURN) {
        SendMessageA(style->parent, WM_STATION_ENTER, 0, reinterpret_cast<LPARAM>(window));
        style = StyleOf(window);  // the parent may have let go of the list meanwhile
        if (!style) return 0;
    }
    return CallWindowProcA(style->listBoxProc, window, message, wParam, lParam);
}

// Undoes a subclass only while ours is still the outermost procedure.
bool Unsubclass(HWND window, WNDPROC ours, WNDPROC previous) {
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) != ours) return false;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return true;
}

}  // namespace

StationListBox::StationListBox(HWND box, HINSTANCE instance)
    : parent(GetParent(box)), listBox(box), instance_(instance) {
    ready = SetUp();
}

StationListBox::~StationListBox() {
    if (!style_) return;
    bool parentFree = Unsubclass(parent, ParentProc, parentProc);
    bool listFree = Unsubclass(listBox, ListBoxProc, listBoxProc);
    if (!parentFree || !listFree) {
        // Someone subclassed on top of us: our procedure stays in their chain
        // and needs its record, so it is left in place.
        return;
    }
    RemovePropA(parent, kListBoxStyleProperty);
    RemovePropA(listBox, kListBoxStyleProperty);
    delete style_;
    style_ = nullptr;
}

bool StationListBox::SetUp() {
    if (style_ || !listBox || !parent) return false;
    auto* style = new ListBoxStyle;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    NONCLIENTMETRICSA metrics = {};
    static_assert(sizeof metrics >= kMetricsSize, "metrics structure too small");
    metrics.cbSize = version.dwMajorVersion == 5 ? kMetricsSizeXp : kMetricsSize;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        delete style;
        return false;
    }

    style->marginTop = style->marginBottom = kVerticalMargin;
    style->marginLeft = style->marginRight = kHorizontalMargin;
    style->normalPen.reset(CreatePen(PS_SOLID, 0, kNormalFill));
    style->highlightPen.reset(CreatePen(PS_SOLID, 0, kHighlightFill));
    style->playingIcon.reset(static_cast<HICON>(
        LoadImageA(instance_, MAKEINTRESOURCEA(IDI_OVERLAY_PLAYING), IMAGE_ICON, kIconSize,
                   kIconSize, LR_DEFAULTCOLOR)));
    LOGFONTA bold = metrics.lfMessageFont;
    bold.lfWeight = kBoldWeight;
    style->boldFont.reset(CreateFontIndirectA(&bold));
    style->normalTextColor = kNormalText;
    style->highlightTextColor = kHighlightText;
    LOGBRUSH normal = {BS_SOLID, kNormalFill, 0};
    LOGBRUSH highlight = {BS_SOLID, kHighlightFill, 0};
    style->normalBrush.reset(CreateBrushIndirect(&normal));
    style->highlightBrush.reset(CreateBrushIndirect(&highlight));
    style->listBox = listBox;
    style->parent = parent;

    SetPropA(parent, kListBoxStyleProperty, style);
    SetPropA(listBox, kListBoxStyleProperty, style);
    // The record holds the previous procedures before either window can call in.
    style->parentProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(parent, GWLP_WNDPROC));
    style->listBoxProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(listBox, GWLP_WNDPROC));
    parentProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc)));
    listBoxProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(listBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListBoxProc)));
    style_ = style;

    LRESULT height = SendMessageA(listBox, LB_GETITEMHEIGHT, 0, 0);
    SendMessageA(listBox, LB_SETITEMHEIGHT, 0,
                 MAKELPARAM(height + style->marginTop + style->marginBottom, 0));
    return true;
}

void StationListBox::AddChannel(ChannelEntry* channel) {
    LRESULT index = SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    if (index < 0) return;
    SendMessageA(listBox, LB_SETITEMDATA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(channel));
}

int32_t StationListBox::GetSelection() const {
    return static_cast<int32_t>(SendMessageA(listBox, LB_GETCURSEL, 0, 0));
}
