// The spectrum window: its class, its picture on screen, the centred stubs,
// swapping places with the information panel, hiding under the mouse, and no
// frame after stop.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/res/resource.h"
#include "playback/spectrum_analyzer.h"
#include "player_window.h"

namespace {

constexpr COLORREF kBarGrey = RGB(89, 89, 89);
constexpr COLORREF kMarker = RGB(255, 0, 0);

HWND Analyzer(HWND parent) { return FindWindowExA(parent, nullptr, spectrum::kClassName, nullptr); }

// The analyzer's pixel at (x, y from the top) as the screen shows it.
COLORREF PixelAt(HWND analyzer, int x, int y) {
    HDC dc = GetDC(analyzer);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(analyzer, dc);
    return c;
}

// Shows the spectrum and plays the window's first station; the analyzer,
// or null when the station did not start.
HWND ShowAndPlay(playertest::PlayerWindow& w) {
    spectrum::Show(w.window(), true);
    w.Play(0);
    if (!w.PumpUntil([&] { return !w.done().empty(); })) return nullptr;
    return Analyzer(w.window());
}

int Height(HWND window) {
    RECT r = {};
    GetClientRect(window, &r);
    return r.bottom;
}

TEST(Spectrum, ClassAndIdleStubsAtTheBottomOrJustBelowTheMiddle) {
    playertest::PlayerWindow w({});
    HWND analyzer = Analyzer(w.window());
    ASSERT_NE(analyzer, nullptr);
    WNDCLASSA info = {};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), spectrum::kClassName, &info));
    EXPECT_EQ(info.hbrBackground, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(GetWindowLongA(analyzer, GWL_STYLE) & (WS_BORDER | WS_CAPTION), 0);
    EXPECT_FALSE(IsWindowVisible(analyzer));

    spectrum::Show(w.window(), true);
    EXPECT_TRUE(IsWindowVisible(analyzer));
    for (int id = IDC_INFO_GROUP; id <= IDC_BITRATE; ++id)
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(w.window(), id))) << id;
    w.PumpFor(100);
    const int h = Height(analyzer);
    spectrum::DrawIdle();
    // The bottom row: a stub over each bar's six pixels, the gap in the face colour.
    EXPECT_EQ(PixelAt(analyzer, 0, h - 1), kBarGrey);
    EXPECT_EQ(PixelAt(analyzer, 5, h - 1), kBarGrey);
    EXPECT_EQ(PixelAt(analyzer, 6, h - 1), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(PixelAt(analyzer, 0, h - 2), GetSysColor(COLOR_BTNFACE));
    spectrum::SetCentred(true);
    spectrum::DrawIdle();
    // Row M - 1 from the bottom: h - M from the top.
    EXPECT_EQ(PixelAt(analyzer, 0, h - h / 2), kBarGrey);
    EXPECT_EQ(PixelAt(analyzer, 0, h - 1), GetSysColor(COLOR_BTNFACE));
    spectrum::SetCentred(false);

    spectrum::Show(w.window(), false);
    EXPECT_FALSE(IsWindowVisible(analyzer));
    for (int id = IDC_INFO_GROUP; id <= IDC_BITRATE; ++id)
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(w.window(), id))) << id;
}

TEST(Spectrum, HoverShowsTheInformationAndLeavingHidesItAgain) {
    playertest::PlayerWindow w({});
    HWND analyzer = Analyzer(w.window());
    HWND panel = GetDlgItem(w.window(), IDC_INFO_GROUP);
    spectrum::Show(w.window(), true);
    const LPARAM inside = MAKELPARAM(10, 10);
    const LPARAM outside = MAKELPARAM(static_cast<WORD>(-5), 10);

    spectrum::SetHideOnHover(false);
    SendMessageA(analyzer, WM_MOUSEMOVE, 0, inside);
    EXPECT_FALSE(IsWindowVisible(panel)) << "hover must change nothing while the option is off";

    spectrum::SetHideOnHover(true);
    SendMessageA(analyzer, WM_MOUSEMOVE, 0, inside);
    EXPECT_TRUE(IsWindowVisible(panel));
    EXPECT_EQ(GetCapture(), analyzer);
    SendMessageA(analyzer, WM_MOUSEMOVE, 0, outside);
    EXPECT_FALSE(IsWindowVisible(panel));
    EXPECT_TRUE(IsWindowVisible(analyzer));
    EXPECT_NE(GetCapture(), analyzer);
    spectrum::SetHideOnHover(false);
}

TEST(Spectrum, ANarrowerBarAreaLeavesNoBarsBeyondIt) {
    // Playing, every bar has at least its bottom row; frames draw only within
    // the area, so the stubs of the wider one must go when it narrows.
    playertest::PlayerWindow w({playertest::RadioUrl("/stream.mp3?fast=1")});
    HWND analyzer = ShowAndPlay(w);
    ASSERT_NE(analyzer, nullptr);
    const int bottom = Height(analyzer) - 1;
    RECT panel = {};
    GetWindowRect(GetDlgItem(w.window(), IDC_INFO_GROUP), &panel);
    const int wide = panel.right - panel.left;
    const int narrow = wide / 2;
    const int lastWideBar = (wide / 8 - 1) * 8;  // its first column
    ASSERT_GT(lastWideBar, narrow);
    ASSERT_TRUE(w.PumpUntil([&] { return PixelAt(analyzer, lastWideBar, bottom) == kBarGrey; }));
    spectrum::SetBarArea(narrow);
    spectrum::SetBarCount(narrow);
    w.PumpFor(200);  // several frames
    EXPECT_EQ(PixelAt(analyzer, lastWideBar, bottom), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(PixelAt(analyzer, 0, bottom), kBarGrey);
    w.Stop();
}

TEST(Spectrum, NoFrameDrawsAfterStopReturns) {
    playertest::PlayerWindow w({playertest::RadioUrl("/stream.mp3?fast=1")});
    HWND analyzer = ShowAndPlay(w);
    ASSERT_NE(analyzer, nullptr);
    EXPECT_TRUE(spectrum::Running());
    for (int round = 0; round < 20; ++round) {
        spectrum::Stop();
        EXPECT_FALSE(spectrum::Running());
        // Paint over the picture; a frame after the stop would cover it again.
        HDC dc = GetDC(analyzer);
        HBRUSH red = CreateSolidBrush(kMarker);
        RECT all = {0, 0, 40, 40};
        FillRect(dc, &all, red);
        DeleteObject(red);
        ReleaseDC(analyzer, dc);
        Sleep(60);  // more than two frame periods
        EXPECT_EQ(PixelAt(analyzer, 3, 3), kMarker) << "round " << round;
        spectrum::Start();
        Sleep(static_cast<DWORD>(rand() % 30));
    }
    w.Stop();
    EXPECT_FALSE(spectrum::Running());
}

}  // namespace
