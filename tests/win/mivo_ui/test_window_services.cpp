// Resizer, centring and fonts on real windows.
#include "mivo/mivo.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui_probe.h"

namespace {

constexpr char kResizerProperty[] = "TAVINLibray_UI_ResizerData";

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r) {
    return "{" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) +
           ", " + std::to_string(r.bottom) + "}";
}

RECT Shifted(RECT r, int dl, int dt, int dr, int db) { return RECT{r.left + dl, r.top + dt, r.right + dr, r.bottom + db}; }

// A resizable window with five anchored statics.
struct Resizable {
    HWND window = nullptr;
    std::vector<HWND> controls;
    std::vector<RECT> first;

    static constexpr MIVO_ResizeItem kItems[] = {
        {101, 0}, {102, 1 | 2}, {103, 4 | 8}, {104, 2 | 4}, {105, 1 | 4}, {199, 1},  // 199 does not exist
    };

    explicit Resizable(UINT32 flags = 0, int grip = 1) {
        window = CreateWindowExA(0, "STATIC", "resizable", WS_OVERLAPPEDWINDOW, 10, 10, 420, 320,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        const RECT places[] = {{10, 10, 60, 30}, {300, 250, 380, 270}, {10, 40, 390, 200}, {10, 220, 200, 240},
                               {100, 10, 150, 30}};
        int id = 101;
        for (const RECT& r : places) {
            controls.push_back(CreateWindowExA(0, "STATIC", "x", WS_CHILD | WS_VISIBLE, r.left, r.top,
                                               r.right - r.left, r.bottom - r.top, window,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), nullptr, nullptr));
            first.push_back(r);
        }
        attached = MIVO_UiResize(nullptr, window, flags, 6, kItems, grip);
    }
    ~Resizable() {
        if (IsWindow(window)) DestroyWindow(window);
    }
    SIZE WindowSize() const {
        RECT r = {};
        GetWindowRect(window, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    void Resize(int width, int height) const {
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    MINMAXINFO Limits() const {
        MINMAXINFO info = {};
        info.ptMaxTrackSize = POINT{5000, 4000};  // sentinels: untouched unless a flag fixes them
        SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
        return info;
    }
    HWND Grip() const { return FindWindowExA(window, nullptr, "ScrollBar", nullptr); }

    int attached = 0;
};

TEST(MivoResizer, ControlsFollowTheirAnchorsAndReturnToTheFirstLayout) {
    Resizable r;
    ASSERT_EQ(r.attached, 1);
    EXPECT_NE(GetPropA(r.window, kResizerProperty), nullptr);
    HWND grip = r.Grip();
    ASSERT_NE(grip, nullptr);
    RECT client = {};
    GetClientRect(r.window, &client);
    const RECT gripFirst = uiprobe::RectInParent(grip);
    EXPECT_EQ(gripFirst.right, client.right);
    EXPECT_EQ(gripFirst.bottom, client.bottom);

    const SIZE size = r.WindowSize();
    r.Resize(size.cx + 100, size.cy + 40);
    const RECT expected[] = {
        r.first[0],                                // 0: stays
        Shifted(r.first[1], 100, 40, 100, 40),     // 1|2: moves with both
        Shifted(r.first[2], 0, 0, 100, 40),        // 4|8: stretches
        Shifted(r.first[3], 0, 40, 100, 40),       // 2|4: moves down, stretches in width
        Shifted(r.first[4], 100, 0, 200, 0),       // 1|4: right edge goes twice as far
    };
    for (size_t i = 0; i < r.controls.size(); ++i) {
        const RECT now = uiprobe::RectInParent(r.controls[i]);
        EXPECT_TRUE(SameRect(now, expected[i])) << "control " << i << ": " << Show(now) << " expected " << Show(expected[i]);
    }
    EXPECT_TRUE(SameRect(uiprobe::RectInParent(grip), Shifted(gripFirst, 100, 40, 100, 40)));

    // A detour through another size, then back: every control is exactly where it began.
    r.Resize(size.cx + 37, size.cy + 211);
    r.Resize(size.cx, size.cy);
    for (size_t i = 0; i < r.controls.size(); ++i) {
        const RECT now = uiprobe::RectInParent(r.controls[i]);
        EXPECT_TRUE(SameRect(now, r.first[i])) << "control " << i << ": " << Show(now);
    }
    EXPECT_TRUE(SameRect(uiprobe::RectInParent(grip), gripFirst));
}

TEST(MivoResizer, FirstSizeIsTheMinimumAndFlagsFixWidthOrHeight) {
    {
        Resizable r(0);
        const SIZE first = r.WindowSize();
        const MINMAXINFO limits = r.Limits();
        EXPECT_EQ(limits.ptMinTrackSize.x, first.cx);
        EXPECT_EQ(limits.ptMinTrackSize.y, first.cy);
        EXPECT_EQ(limits.ptMaxTrackSize.x, 5000);
        EXPECT_EQ(limits.ptMaxTrackSize.y, 4000);
        // Asking for less than the first size ends at the first size.
        r.Resize(first.cx - 80, first.cy - 60);
        const SIZE shrunk = r.WindowSize();
        EXPECT_EQ(shrunk.cx, first.cx);
        EXPECT_EQ(shrunk.cy, first.cy);
    }
    {
        Resizable r(MIVO_RESIZE_FIX_WIDTH);
        const SIZE first = r.WindowSize();
        const MINMAXINFO limits = r.Limits();
        EXPECT_EQ(limits.ptMaxTrackSize.x, first.cx);
        EXPECT_EQ(limits.ptMaxTrackSize.y, 4000);
    }
    {
        Resizable r(MIVO_RESIZE_FIX_HEIGHT | 0x100);  // unknown bits are ignored
        const SIZE first = r.WindowSize();
        const MINMAXINFO limits = r.Limits();
        EXPECT_EQ(limits.ptMaxTrackSize.x, 5000);
        EXPECT_EQ(limits.ptMaxTrackSize.y, first.cy);
    }
}

TEST(MivoResizer, RemovesItselfOnDestructionAndRefusesBadArguments) {
    {
        Resizable r(0, 0);
        ASSERT_EQ(r.attached, 1);
        EXPECT_EQ(r.Grip(), nullptr);
        EXPECT_NE(GlobalFindAtomA(kResizerProperty), 0);
        DestroyWindow(r.window);
    }
    // The only attachment is gone, and with it the atom's last reference.
    EXPECT_EQ(GlobalFindAtomA(kResizerProperty), 0);

    const MIVO_ResizeItem item{1, 0};
    EXPECT_EQ(MIVO_UiResize(nullptr, nullptr, 0, 1, &item, 0), 0);
    HWND plain = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(MIVO_UiResize(nullptr, plain, 0, 1, nullptr, 0), 0);
    EXPECT_EQ(MIVO_UiResize(nullptr, plain, 0, -1, &item, 0), 0);
    EXPECT_EQ(GetPropA(plain, kResizerProperty), nullptr);
    DestroyWindow(plain);
}

LOGFONTA FontOf(HWND window) {
    LOGFONTA font = {};
    HFONT handle = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    if (handle != nullptr) GetObjectA(handle, sizeof font, &font);
    return font;
}

LOGFONTA MessageFont() {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return metrics.lfMessageFont;
}

TEST(MivoFonts, KindsHeightsAndChildren) {
    HWND window = uiprobe::MakeParent(0, 0, 300, 200);
    HWND children[3];
    for (HWND& child : children) {
        child = CreateWindowExA(0, "STATIC", "child", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window, nullptr, nullptr, nullptr);
    }
    const LOGFONTA message = MessageFont();
    ASSERT_NE(message.lfHeight, 0);

    EXPECT_EQ(MIVO_UiSetFont(window, MIVO_FONT_BOLD, 0, 25), 0);
    LOGFONTA bold = FontOf(window);
    EXPECT_EQ(bold.lfWeight, FW_BOLD);
    EXPECT_EQ(bold.lfHeight, 25);
    EXPECT_EQ(bold.lfWidth, 0);
    EXPECT_STREQ(bold.lfFaceName, message.lfFaceName);
    for (HWND child : children) EXPECT_EQ(SendMessageA(child, WM_GETFONT, 0, 0), 0) << "children untouched";

    // Unknown kinds are the normal font; the height is the message font's.
    EXPECT_EQ(MIVO_UiSetFont(window, 7, 1, 0), 0);
    for (HWND child : children) {
        const LOGFONTA normal = FontOf(child);
        EXPECT_EQ(normal.lfWeight, message.lfWeight);
        EXPECT_EQ(normal.lfHeight, message.lfHeight);
        EXPECT_EQ(normal.lfWidth, message.lfWidth);
        EXPECT_STREQ(normal.lfFaceName, message.lfFaceName);
    }
    EXPECT_EQ(FontOf(window).lfHeight, 25) << "the window itself keeps its font";

    MIVO_UiSetFont(children[0], MIVO_FONT_FIXED, 0, 0);
    const LOGFONTA fixed = FontOf(children[0]);
    EXPECT_EQ(fixed.lfPitchAndFamily, FIXED_PITCH | FF_MODERN);
    EXPECT_STREQ(fixed.lfFaceName, "");
    EXPECT_EQ(fixed.lfHeight, message.lfHeight);

    // The same request hands out the same font, and earlier fonts stay usable.
    const LRESULT boldHandle = SendMessageA(window, WM_GETFONT, 0, 0);
    MIVO_UiSetFont(children[1], MIVO_FONT_BOLD, 0, 25);
    EXPECT_EQ(SendMessageA(children[1], WM_GETFONT, 0, 0), boldHandle);
    LOGFONTA again = {};
    EXPECT_NE(GetObjectA(reinterpret_cast<HFONT>(boldHandle), sizeof again, &again), 0);
    DestroyWindow(window);
}

TEST(MivoCentring, CentresOverTheReferenceAndTakesTheFocus) {
    HWND reference = CreateWindowExA(0, "STATIC", "reference", WS_POPUP | WS_VISIBLE, 0, 40, 501, 301, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND window = CreateWindowExA(0, "STATIC", "centred", WS_POPUP | WS_VISIBLE, 700, 500, 200, 100, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND focused = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, reference, nullptr, nullptr, nullptr);
    SetFocus(focused);
    ASSERT_EQ(GetFocus(), focused);

    EXPECT_EQ(MIVO_UiCenterWindow(window, reference), focused);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 150);
    EXPECT_EQ(rect.top, 40 + 150 - 50);
    EXPECT_EQ(rect.right - rect.left, 200) << "size unchanged";
    EXPECT_EQ(GetFocus(), window);
    DestroyWindow(window);

    // A null reference means the parent.
    HWND child = CreateWindowExA(0, "STATIC", "child", WS_CHILD | WS_VISIBLE, 0, 0, 101, 51, reference, nullptr,
                                 nullptr, nullptr);
    MIVO_UiCenterWindow(child, nullptr);
    GetWindowRect(child, &rect);
    // Window rectangles are in screen coordinates: 0 + 250 - 50, 40 + 150 - 25.
    EXPECT_EQ(rect.left, 200);
    EXPECT_EQ(rect.top, 165);
    DestroyWindow(reference);
}

}  // namespace
