// The hyperlink control: texts, colours and fonts read back by painting it
// into a bitmap, hover, click and failures.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "mivo/hyperlink_layout.h"
#include "ui_probe.h"

namespace {

namespace layout = mivo::hyperlink;

constexpr int kWidth = 260;
constexpr int kHeight = 24;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kRed = 0x0000FF;

// Sharp glyphs, so colours can be compared exactly.
LOGFONTA TestFont() {
    LOGFONTA font = {};
    font.lfHeight = -16;
    font.lfWeight = FW_NORMAL;
    font.lfQuality = NONANTIALIASED_QUALITY;
    lstrcpynA(font.lfFaceName, "Tahoma", LF_FACESIZE);
    return font;
}

class Hyperlink : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = uiprobe::MakeParent(20, 20, 400, 200);
        ASSERT_NE(parent_, nullptr);
        const LOGFONTA logFont = TestFont();
        font_ = CreateFontIndirectA(&logFont);
        SendMessageA(parent_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        ASSERT_EQ(MIVO_UiHypCtrlInit(&info_), 1);
        info_.format = DT_SINGLELINE | DT_VCENTER;
    }
    void TearDown() override {
        DestroyWindow(parent_);
        DeleteObject(font_);
    }

    HWND Create() { return MIVO_UiHypCtrlCreate(parent_, &info_, 10, 10, kWidth, kHeight); }

    static uiprobe::Pixels Paint(HWND control) {
        RECT client = {};
        GetClientRect(control, &client);
        return uiprobe::Render(client.right, client.bottom, [&](HDC dc) {
            SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        });
    }

    // What a link showing `text` in these colours and that underline looks like.
    uiprobe::Pixels Expected(HWND control, const char* text, COLORREF colour, COLORREF background, bool underline) {
        LOGFONTA logFont = TestFont();
        logFont.lfUnderline = underline;
        HFONT font = CreateFontIndirectA(&logFont);
        RECT client = {};
        GetClientRect(control, &client);
        auto pixels = uiprobe::Render(client.right, client.bottom, [&](HDC dc) {
            HBRUSH brush = CreateSolidBrush(background);
            FillRect(dc, &client, brush);
            DeleteObject(brush);
            HGDIOBJ previous = SelectObject(dc, font);
            SetTextColor(dc, colour);
            SetBkColor(dc, background);
            RECT rect = client;
            DrawTextA(dc, text, -1, &rect, info_.format);
            SelectObject(dc, previous);
        });
        DeleteObject(font);
        return pixels;
    }

    static void Hover(HWND control) { SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3)); }
    static void Leave(HWND control) { SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(kWidth + 5, 3)); }

    HWND parent_ = nullptr;
    HFONT font_ = nullptr;
    MIVO_HypCtrlInfo info_ = {};
};

TEST_F(Hyperlink, InitFillsTheDefaults) {
    MIVO_HypCtrlInfo info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(MIVO_UiHypCtrlInit(&info), 1);
    EXPECT_EQ(info.url, nullptr);
    EXPECT_EQ(info.text, nullptr);
    EXPECT_EQ(info.tooltip, nullptr);
    EXPECT_EQ(info.textColour, kBlue);
    EXPECT_EQ(info.hoverTextColour, kRed);
    EXPECT_EQ(info.backgroundColour, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(info.hoverBackgroundColour, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(info.fontStyle, 2u);
    EXPECT_EQ(info.format, 0u);
    EXPECT_EQ(info.autoSize, 0u);
    EXPECT_EQ(info.callback, nullptr);
    EXPECT_EQ(info.callbackValue, 0u);
    // The class lives in the program's module, not in the library.
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    EXPECT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), layout::kClassName, &wc));
}

TEST_F(Hyperlink, OnlyAUrlShowsTheUrlUnderlinedInBothStates) {
    char url[] = "http://example.org/mivo";
    info_.url = url;
    HWND link = Create();
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(GetWindowLongPtrA(link, GWL_STYLE) & WS_VISIBLE);
    std::snprintf(url, sizeof url, "%s", "http://changed.invalid");  // the control keeps its own copy

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const auto normal = Paint(link);
    EXPECT_EQ(normal.data, Expected(link, "http://example.org/mivo", kBlue, face, true).data);

    Hover(link);
    EXPECT_EQ(GetCapture(), link);
    EXPECT_EQ(GetWindowWord(link, layout::kHoverOffset), 1);
    const auto hovered = Paint(link);
    EXPECT_EQ(hovered.data, Expected(link, "http://example.org/mivo", kRed, face, true).data);
    EXPECT_EQ(hovered.Count(kBlue), 0);

    Leave(link);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(Paint(link).data, normal.data);
    SendMessageA(link, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(link));
}

TEST_F(Hyperlink, FontStylesDecideTheUnderlinePerState) {
    const char* text = "Mivo link text";
    struct Case {
        UINT32 style;
        bool underlinedNormal, underlinedHover;
    };
    const Case cases[] = {{0, false, true}, {1, false, false}, {2, true, true}};
    for (const Case& c : cases) {
        info_.url = "http://example.org/";
        info_.text = text;
        info_.fontStyle = c.style;
        HWND link = Create();
        ASSERT_NE(link, nullptr) << "style " << c.style;
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        const auto normal = Paint(link);
        EXPECT_EQ(normal.data, Expected(link, text, kBlue, face, c.underlinedNormal).data) << "style " << c.style;
        Hover(link);
        const auto hovered = Paint(link);
        EXPECT_EQ(hovered.data, Expected(link, text, kRed, face, c.underlinedHover).data) << "style " << c.style;
        // An underline is a run of text colour much longer than any glyph stroke.
        const int run = hovered.LongestRun(kRed);
        EXPECT_EQ(run > 60, c.underlinedHover) << "style " << c.style << ": longest run " << run;
        // Losing the capture ends the hover too.
        ReleaseCapture();
        EXPECT_EQ(GetWindowWord(link, layout::kHoverOffset), 0);
        DestroyWindow(link);
    }
}

TEST_F(Hyperlink, ColoursAndUnknownFontStyleDrawWithTheDefaultFont) {
    info_.url = "http://example.org/";
    info_.text = "Colours";
    info_.textColour = 0x3B3B3B;
    info_.hoverTextColour = 0x00AA00;
    info_.backgroundColour = 0xFFFFFF;
    info_.hoverBackgroundColour = 0x202020;
    info_.fontStyle = 9;
    HWND link = Create();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(link, layout::kNormalFontOffset), 0);
    EXPECT_EQ(GetWindowLongPtrA(link, layout::kHoverFontOffset), 0);
    const auto normal = Paint(link);
    EXPECT_GT(normal.Count(0x3B3B3B), 0);
    EXPECT_GT(normal.Count(0xFFFFFF), normal.width * normal.height / 2);
    Hover(link);
    const auto hovered = Paint(link);
    EXPECT_GT(hovered.Count(0x00AA00), 0);
    EXPECT_EQ(hovered.Count(0x3B3B3B), 0);
    EXPECT_GT(hovered.Count(0x202020), hovered.width * hovered.height / 2);
    DestroyWindow(link);
}

UINT32 g_calledWith = 0;
int g_calls = 0;
void CALLBACK Remember(UINT32 value) {
    g_calledWith = value;
    ++g_calls;
}

TEST_F(Hyperlink, CallbackTakesTheClickAndNeedsAText) {
    info_.callback = &Remember;
    info_.callbackValue = 0xC0FFEE;
    EXPECT_EQ(Create(), nullptr) << "a callback without a text";
    info_.url = "http://example.org/";
    EXPECT_EQ(Create(), nullptr) << "a URL does not stand in for the text";
    EXPECT_EQ(GetWindow(parent_, GW_CHILD), nullptr) << "failures leave no window";

    info_.url = nullptr;
    info_.text = "Call me";
    HWND link = Create();
    ASSERT_NE(link, nullptr);
    g_calls = 0;
    SendMessageA(link, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_calledWith, 0xC0FFEEu);
    // With a callback the URL is never kept, so there is nothing to open.
    const auto* record = reinterpret_cast<const MIVO_HypCtrlInfo*>(GetWindowLongPtrA(link, layout::kRecordOffset));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->url, nullptr);
    DestroyWindow(link);

    // Without a URL and without a callback there is nothing to show.
    info_.callback = nullptr;
    info_.text = "orphan";
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(MIVO_UiHypCtrlCreate(nullptr, &info_, 0, 0, 10, 10), nullptr);
}

TEST_F(Hyperlink, AutoSizeFitsTheTextAndTheTooltipCoversIt) {
    info_.url = "http://example.org/";
    info_.text = "Fit";
    info_.tooltip = "Opens the page";
    info_.autoSize = 1;
    info_.format = DT_SINGLELINE;
    HWND link = Create();
    ASSERT_NE(link, nullptr);

    SIZE extent = {};
    HDC dc = GetDC(link);
    LOGFONTA logFont = TestFont();
    logFont.lfUnderline = TRUE;
    HFONT font = CreateFontIndirectA(&logFont);
    HGDIOBJ previous = SelectObject(dc, font);
    GetTextExtentPoint32A(dc, "Fit", 3, &extent);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(link, dc);
    RECT client = {};
    GetClientRect(link, &client);
    EXPECT_EQ(client.right, extent.cx);
    EXPECT_EQ(client.bottom, extent.cy);
    const RECT place = uiprobe::RectInParent(link);
    EXPECT_EQ(place.left, 10);
    EXPECT_EQ(place.top, 10);

    HWND tooltip = reinterpret_cast<HWND>(GetWindowLongPtrA(link, layout::kTooltipOffset));
    ASSERT_NE(tooltip, nullptr);
    EXPECT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    char text[64] = {};
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tooltip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_STREQ(text, "Opens the page");
    EXPECT_EQ(tool.hwnd, link);
    EXPECT_EQ(tool.rect.right, extent.cx);
    EXPECT_TRUE(GetWindowLongPtrA(tooltip, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Closing releases the tooltip with the control.
    SendMessageA(link, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(link));
    EXPECT_FALSE(IsWindow(tooltip));
}

TEST_F(Hyperlink, ParentWithoutFontDrawsWithTheDefaultFont) {
    SendMessageA(parent_, WM_SETFONT, 0, FALSE);
    info_.url = "http://example.org/";
    HWND link = Create();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(link, layout::kNormalFontOffset), 0);
    EXPECT_GT(Paint(link).Count(kBlue), 0);
    DestroyWindow(link);
}

}  // namespace
