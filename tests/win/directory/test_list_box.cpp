// The station list box: row looks, UTF-8 names, focus, Enter and resizing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/channel_list_model.h"
#include "app/res/resource.h"
#include "directory/station_list_box.h"
#include "fixtures.h"
#include "top_down_dib.h"

namespace {

constexpr COLORREF kNormalFill = RGB(225, 225, 225);
constexpr COLORREF kHighlightFill = RGB(89, 89, 89);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kMarker = RGB(255, 0, 255);
constexpr UINT kRowFormat = DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX | DT_END_ELLIPSIS;

int g_enterCount = 0;
LPARAM g_enterFrom = 0;

INT_PTR CALLBACK TestDialogProc(HWND, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_STATION_ENTER) {
        ++g_enterCount;
        g_enterFrom = lParam;
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

// A 32-bit picture of a window's client area, drawn through WM_PRINTCLIENT.
class Picture {
public:
    Picture(int width, int height) : width_(width), height_(height) {
        screen_ = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen_);
        BITMAPINFO info = TopDownDib(width, height);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        Fill(kMarker);
    }
    ~Picture() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        ReleaseDC(nullptr, screen_);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    void Fill(COLORREF colour) {
        HBRUSH brush = CreateSolidBrush(colour);
        RECT all = {0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    HDC dc() const { return dc_; }
    COLORREF At(int x, int y) const {
        GdiFlush();
        DWORD v = static_cast<const DWORD*>(bits_)[y * width_ + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    int Count(const RECT& area, COLORREF colour) const {
        int n = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) n += At(x, y) == colour;
        return n;
    }
    bool SameArea(const Picture& other, const RECT& area, int dx = 0, int dy = 0) const {
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (At(x, y) != other.At(x + dx, y + dy)) return false;
        return true;
    }

private:
    int width_, height_;
    HDC screen_, dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    void* bits_ = nullptr;
};

const char kStations[] =
    "<orvantisclient version=\"3\"><stationlist>"
    "<s><name v=\"\xC3\x96" "3\"/></s>"
    "<s><name v=\"Radio \xC5\xBB" "ak &amp; Friends\"/></s>"
    "<s><name v=\"Playing Station\"/></s>"
    "<s><name v=\"Selected Station\"/></s>"
    "<s><name v=\"A station whose name is far too long to fit into a single row of this "
    "list box, however wide the window may be made by its user\"/></s>"
    "<s/>"
    "</stationlist></orvantisclient>";

class StationListBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stations_.ParseBuffer(kStations, sizeof kStations - 1), ParseOutcome::Ok);
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_MAIN),
                                     nullptr, TestDialogProc, 0);
        ASSERT_NE(dialog_, nullptr);
        listBox_ = GetDlgItem(dialog_, IDC_STATIONS);
        originalProc_ = GetWindowLongPtrA(listBox_, GWLP_WNDPROC);
        defaultHeight_ = static_cast<int>(SendMessageA(listBox_, LB_GETITEMHEIGHT, 0, 0));
        box_ = new StationListBox(listBox_, GetModuleHandleA(nullptr));
        for (ChannelEntry* e = stations_.first; e; e = e->next) box_->AddChannel(e);
        g_enterCount = 0;
        g_enterFrom = 0;
    }
    void TearDown() override {
        delete box_;
        if (dialog_) {
            EXPECT_EQ(GetWindowLongPtrA(listBox_, GWLP_WNDPROC), originalProc_);
            EXPECT_EQ(GetPropA(listBox_, kListBoxStyleProperty), nullptr);
            EXPECT_EQ(GetPropA(dialog_, kListBoxStyleProperty), nullptr);
            DestroyWindow(dialog_);
        }
    }

    RECT Row(int index) const {
        RECT row = {};
        SendMessageA(listBox_, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&row));
        return row;
    }
    void Render(Picture& picture) const {
        SendMessageA(listBox_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(picture.dc()),
                     PRF_CLIENT | PRF_ERASEBKGND);
    }
    SIZE ClientSize() const {
        RECT client;
        GetClientRect(listBox_, &client);
        return {client.right, client.bottom};
    }
    // The row's fill: just inside its border, clear of text and icon.
    static POINT FillPoint(const RECT& row) { return {row.right - 3, row.top + 2}; }
    static RECT TextArea(const RECT& row) {
        return {row.left + 5, row.top + 3, row.right - 5, row.bottom - 3};
    }

    // What a row with this wide name should look like, in the list box's font.
    void DrawReference(Picture& picture, const RECT& row, const wchar_t* name, UINT format,
                       COLORREF fill, COLORREF text) const {
        HBRUSH brush = CreateSolidBrush(fill);
        RECT inner = {row.left + 1, row.top + 1, row.right - 1, row.bottom - 1};
        FillRect(picture.dc(), &inner, brush);
        DeleteObject(brush);
        HGDIOBJ oldFont = SelectObject(
            picture.dc(), reinterpret_cast<HFONT>(SendMessageA(listBox_, WM_GETFONT, 0, 0)));
        SetBkMode(picture.dc(), TRANSPARENT);
        SetTextColor(picture.dc(), text);
        RECT area = TextArea(row);
        DrawTextW(picture.dc(), name, -1, &area, format);
        SelectObject(picture.dc(), oldFont);
    }

    ChannelListModel stations_;
    HWND dialog_ = nullptr;
    HWND listBox_ = nullptr;
    LONG_PTR originalProc_ = 0;
    int defaultHeight_ = 0;
    StationListBox* box_ = nullptr;
};

TEST_F(StationListBoxTest, SetUpAddsRowsInOrderSixPixelsTaller) {
    ASSERT_TRUE(box_->ready);
    EXPECT_EQ(box_->parent, dialog_);
    EXPECT_EQ(SendMessageA(listBox_, LB_GETITEMHEIGHT, 0, 0), defaultHeight_ + 6);
    ASSERT_EQ(SendMessageA(listBox_, LB_GETCOUNT, 0, 0), stations_.channelCount);
    for (int i = 0; i < stations_.channelCount; ++i)
        EXPECT_EQ(SendMessageA(listBox_, LB_GETITEMDATA, i, 0),
                  reinterpret_cast<LRESULT>(stations_.GetChannel(i)));
    EXPECT_EQ(box_->GetSelection(), -1);
    SendMessageA(listBox_, LB_SETCURSEL, 3, 0);
    EXPECT_EQ(box_->GetSelection(), 3);
}

TEST_F(StationListBoxTest, RowsShowOrdinarySelectedAndPlayingLooks) {
    stations_.GetChannel(2)->playing = true;
    SendMessageA(listBox_, LB_SETCURSEL, 3, 0);
    SIZE size = ClientSize();
    Picture picture(size.cx, size.cy);
    Render(picture);

    struct Look {
        int row;
        COLORREF fill, text, notText;
    };
    for (const Look& look : {Look{0, kNormalFill, kBlack, kWhite},
                             Look{2, kHighlightFill, kWhite, kBlack},
                             Look{3, kHighlightFill, kWhite, kBlack}}) {
        SCOPED_TRACE(look.row);
        RECT row = Row(look.row);
        POINT fill = FillPoint(row);
        EXPECT_EQ(picture.At(fill.x, fill.y), look.fill);
        EXPECT_EQ(picture.At(row.left + 1, row.top + 1), look.fill) << "border in the fill colour";
        EXPECT_NE(picture.At(row.left, row.top), look.fill) << "no one-pixel gap around the row";
        RECT text = TextArea(row);
        text.right -= 20;  // clear of the icon
        EXPECT_GT(picture.Count(text, look.text), 0);
        EXPECT_EQ(picture.Count(text, look.notText), 0);
    }

    // Only the playing row carries the icon at its right end.
    RECT playing = Row(2);
    RECT icon = {playing.right - 20, playing.top + (playing.bottom - playing.top) / 2 - 8,
                 playing.right - 4, playing.top + (playing.bottom - playing.top) / 2 + 8};
    int iconPixels = icon.right - icon.left;
    iconPixels *= icon.bottom - icon.top;
    EXPECT_LT(picture.Count(icon, kHighlightFill), iconPixels / 2) << "no icon on the playing row";
    RECT selected = Row(3);
    RECT noIcon = {selected.right - 20, selected.top + 2, selected.right - 4, selected.bottom - 2};
    EXPECT_EQ(picture.Count(noIcon, kHighlightFill),
              (noIcon.right - noIcon.left) * (noIcon.bottom - noIcon.top));

    // The playing row's bold name is wider than the same name drawn plainly.
    Picture plain(size.cx, size.cy);
    DrawReference(plain, playing, L"Playing Station", kRowFormat, kHighlightFill, kWhite);
    RECT text = TextArea(playing);
    text.right -= 20;
    EXPECT_GT(picture.Count(text, kWhite), plain.Count(text, kWhite));
}

TEST_F(StationListBoxTest, NamesAreDrawnAsUtf8WithLiteralAmpersands) {
    SIZE size = ClientSize();
    Picture picture(size.cx, size.cy);
    Render(picture);

    struct Name {
        int row;
        const wchar_t* wide;     // what the row must show
        const wchar_t* wrong;    // the ANSI reading of the same bytes, or the prefix reading
        UINT wrongFormat;
    };
    const Name names[] = {
        {0, L"\u00D63", L"\u00C3\u20133", kRowFormat},
        {1, L"Radio \u017Bak & Friends", L"Radio \u017Bak & Friends", kRowFormat & ~DT_NOPREFIX},
    };
    for (const Name& name : names) {
        SCOPED_TRACE(name.row);
        RECT row = Row(name.row);
        RECT area = TextArea(row);
        Picture right(size.cx, size.cy), wrong(size.cx, size.cy);
        DrawReference(right, row, name.wide, kRowFormat, kNormalFill, kBlack);
        DrawReference(wrong, row, name.wrong, name.wrongFormat, kNormalFill, kBlack);
        ASSERT_FALSE(right.SameArea(wrong, area)) << "the references must differ to tell anything";
        EXPECT_TRUE(picture.SameArea(right, area));
    }

    // A name wider than the row is cut with an ellipsis inside the margins.
    RECT longRow = Row(4);
    RECT beyond = {longRow.right - 5, longRow.top + 1, longRow.right - 1, longRow.bottom - 1};
    EXPECT_EQ(picture.Count(beyond, kBlack), 0);
    Picture expected(size.cx, size.cy);
    DrawReference(expected, longRow,
                  L"A station whose name is far too long to fit into a single row of this list "
                  L"box, however wide the window may be made by its user",
                  kRowFormat, kNormalFill, kBlack);
    EXPECT_TRUE(picture.SameArea(expected, TextArea(longRow)));

    // A station without a name is an empty row.
    RECT empty = TextArea(Row(5));
    EXPECT_EQ(picture.Count(empty, kBlack), 0);
    EXPECT_EQ(picture.Count(empty, kNormalFill), (empty.right - empty.left) * (empty.bottom - empty.top));
}

TEST_F(StationListBoxTest, PlayingRowLooksTheSameSelectedOrNot) {
    stations_.GetChannel(2)->playing = true;
    SIZE size = ClientSize();
    Picture unselected(size.cx, size.cy), selected(size.cx, size.cy);
    SendMessageA(listBox_, LB_SETCURSEL, 0, 0);
    Render(unselected);
    SendMessageA(listBox_, LB_SETCURSEL, 2, 0);
    Render(selected);
    RECT row = Row(2);
    EXPECT_TRUE(selected.SameArea(unselected, row));
    // ... while the row that lost the selection did change.
    EXPECT_FALSE(selected.SameArea(unselected, Row(0)));
}

TEST_F(StationListBoxTest, FocusChangesDrawNothing) {
    SIZE size = ClientSize();
    Picture before(size.cx, size.cy), after(size.cx, size.cy);
    Render(before);
    Render(after);
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_LISTBOX;
    item.CtlID = IDC_STATIONS;
    item.itemID = 0;
    item.itemAction = ODA_FOCUS;
    item.itemState = ODS_FOCUS | ODS_SELECTED;
    item.hwndItem = listBox_;
    item.hDC = after.dc();
    item.rcItem = Row(0);
    item.itemData = reinterpret_cast<ULONG_PTR>(stations_.GetChannel(0));
    EXPECT_TRUE(SendMessageA(dialog_, WM_DRAWITEM, IDC_STATIONS,
                             reinterpret_cast<LPARAM>(&item)));
    RECT all = {0, 0, size.cx, size.cy};
    EXPECT_TRUE(after.SameArea(before, all));
}

TEST_F(StationListBoxTest, EnterReleaseSendsOneMessage) {
    // Held down (auto-repeat), nothing; on release, one message.
    for (int i = 0; i < 3; ++i) SendMessageA(listBox_, WM_KEYDOWN, VK_RETURN, i ? 0x40000001 : 1);
    EXPECT_EQ(g_enterCount, 0);
    SendMessageA(listBox_, WM_KEYUP, VK_RETURN, 0xC0000001);
    EXPECT_EQ(g_enterCount, 1);
    EXPECT_EQ(g_enterFrom, reinterpret_cast<LPARAM>(listBox_));
    SendMessageA(listBox_, WM_KEYUP, VK_SPACE, 0xC0000001);
    EXPECT_EQ(g_enterCount, 1);
    SendMessageA(listBox_, WM_KEYDOWN, VK_RETURN, 1);
    SendMessageA(listBox_, WM_KEYUP, VK_RETURN, 0xC0000001);
    EXPECT_EQ(g_enterCount, 2);
}

TEST_F(StationListBoxTest, ResizingRedrawsEveryRow) {
    ShowWindow(dialog_, SW_SHOWNOACTIVATE);  // hidden windows collect no update region
    UpdateWindow(listBox_);
    ValidateRect(listBox_, nullptr);
    RECT dirty = {};
    ASSERT_FALSE(GetUpdateRect(listBox_, &dirty, FALSE));
    SetWindowPos(listBox_, nullptr, 0, 0, 300, 150, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(GetUpdateRect(listBox_, &dirty, FALSE));
    RECT client;
    GetClientRect(listBox_, &client);
    EXPECT_TRUE(EqualRect(&dirty, &client));
}

}  // namespace
