#include "playback/spectrum_analyzer.h"

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <vector>

#include "common/scoped_handle.h"
#include "engine/include/bass.h"
#include "playback/spectrum_frame.h"

namespace spectrum {

namespace {

constexpr int kColours = 256;
constexpr int kFirstGrey = 1;
constexpr int kFirstLight = 50;
constexpr COLORREF kBarGrey = RGB(89, 89, 89);
constexpr COLORREF kLightGrey = RGB(196, 196, 196);
constexpr DWORD kFftRequest = BASS_DATA_FFT2048;

struct PictureInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[kColours];
};

// Module-wide: there is one analyzer per process. The frame runs on the
// multimedia timer's thread; everything else on the UI thread. The shape,
// the flags and the picture are guarded by `lock`, the channel is atomic.
struct Analyzer {
    HWND window = nullptr;
    playback::SpectrumShape shape;
    bool hideOnHover = false;
    bool hovering = false;
    std::atomic<DWORD> channel{0};
    UINT timer = 0;
    bool running = false;  // frames may draw; cleared by Stop under the lock
    ScopedGdi<HBITMAP> bitmap;
    ScopedMemoryDc dc;
    uint8_t* pixels = nullptr;  // the bitmap's bits
    std::vector<uint8_t> shown; // the picture as last copied to the window
    bool wholeNext = true;      // the next frame copies all, not only what changed
    CRITICAL_SECTION lock;
    Analyzer() { InitializeCriticalSection(&lock); }
};

Analyzer& The() {
    static Analyzer* analyzer = new Analyzer;  // lives to process exit, as the timer might
    return *analyzer;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&The().lock); }
    ~Locked() { LeaveCriticalSection(&The().lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Copies part of the picture to the window: what of `part` can be seen,
// which is all a copy of the whole would change (the window is far wider
// than its parent and is hidden while the station panel shows). Caller
// holds the lock.
void Blit(HDC target, RECT part) {
    Analyzer& a = The();
    if (!a.dc) return;
    RECT seen = {};
    if (GetClipBox(target, &seen) == NULLREGION || !IntersectRect(&seen, &seen, &part)) return;
    BitBlt(target, seen.left, seen.top, seen.right - seen.left, seen.bottom - seen.top, a.dc.get(),
           seen.left, seen.top, SRCCOPY);
}

RECT WholePicture() { return RECT{0, 0, The().shape.width, The().shape.height}; }

// The whole picture, after which the window shows exactly it; true, as it
// always sends something.
bool BlitAll(HDC target) {
    Analyzer& a = The();
    Blit(target, WholePicture());
    if (a.pixels) std::copy(a.pixels, a.pixels + a.shown.size(), a.shown.begin());
    a.wholeNext = false;
    return true;
}

// A frame sends only the rows of the bar area that changed since the last
// one; a steady or silent spectrum sends nothing. True when it sent some.
bool BlitChanged(HDC target) {
    Analyzer& a = The();
    RECT seen = {};
    if (GetClipBox(target, &seen) == NULLREGION) {
        a.wholeNext = true;  // nothing reaches the screen: all of it is due once it shows
        return false;
    }
    if (a.wholeNext) return BlitAll(target);
    const playback::RowSpan rows =
        playback::TakeChangedRows(a.shape, a.shape.barArea, a.pixels, a.shown.data());
    if (rows.empty()) return false;
    // Rows count from the bottom; the window's y from the top.
    Blit(target, RECT{0, a.shape.height - 1 - rows.last, a.shape.barArea, a.shape.height - rows.first});
    return true;
}

// Runs copy on the window's DC; false when there is none. The copy changes
// nothing in the DC, so it is not reset on release: a reset selects the
// default font again, which some window systems answer by reading their font
// settings anew, forty times a second.
template <typename Copy>
bool ToWindow(Copy copy) {
    Analyzer& a = The();
    if (!a.window) return false;
    HDC target = GetDCEx(a.window, nullptr, DCX_CACHE | DCX_NORESETATTRS);
    if (!target) return false;
    const bool sent = copy(target);
    ReleaseDC(a.window, target);
    return sent;
}

void BlitToWindow() { ToWindow(BlitAll); }

// Some window systems keep what the process draws in a buffer per top-level
// window and put it on the screen when one of its threads next looks for
// messages, as one rectangle around everything drawn since. The frame would
// then travel with the level meters' last repaint, inside a rectangle around
// both that is about three times the bar area. Looking at this thread's own
// (empty) queue sends the frame on its own, at once.
void HandFrameToScreen() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

void DrawIdleLocked() {
    Analyzer& a = The();
    if (!a.pixels) return;
    playback::DrawIdlePicture(a.shape, a.pixels);
    BlitToWindow();
}

void CALLBACK Frame(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    Analyzer& a = The();
    // Fetched before the lock: the engine call may take a moment, and the UI
    // thread never waits on the engine while it holds the lock.
    float magnitudes[playback::kFftBins] = {};
    if (BASS_ChannelGetData(a.channel.load(), magnitudes, kFftRequest) == static_cast<DWORD>(-1))
        std::fill(std::begin(magnitudes), std::end(magnitudes), 0.0f);
    bool sent = false;
    {
        Locked guard;
        if (!a.running || !a.pixels) return;
        playback::DrawSpectrumFrame(magnitudes, a.shape, a.pixels);
        sent = ToWindow(BlitChanged);
    }
    if (sent) HandFrameToScreen();
}

bool BuildPicture(HWND window) {
    Analyzer& a = The();
    PictureInfo info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = a.shape.width;
    info.header.biHeight = a.shape.height;  // positive: bottom-up, row 0 is the bottom line
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = kColours;
    info.header.biClrImportant = kColours;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int i = 0; i < kColours; ++i) {
        const COLORREF c = i == 0 ? face : i < kFirstLight ? kBarGrey : kLightGrey;
        info.colours[i] = RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }
    static_assert(kFirstGrey == playback::kBarColour, "the bars use the first grey");
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    a.bitmap.reset(CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0));
    a.dc.reset(CreateCompatibleDC(screen));
    ReleaseDC(nullptr, screen);
    if (!a.bitmap || !a.dc || !bits) return false;
    SelectObject(a.dc.get(), a.bitmap.get());
    a.pixels = static_cast<uint8_t*>(bits);
    a.shown.assign(static_cast<size_t>(a.shape.width) * a.shape.height, playback::kBackground);
    a.wholeNext = true;
    a.window = window;
    return true;
}

void KillTimerLocked() {
    Analyzer& a = The();
    if (a.timer) {
        timeKillEvent(a.timer);
        a.timer = 0;
    }
    a.running = false;
}

// The hot area: the window's screen rectangle cut to the bar area.
bool OverBars(HWND window, POINT cursor) {
    RECT hot = {};
    GetWindowRect(window, &hot);
    hot.right = hot.left + The().shape.barArea;
    return PtInRect(&hot, cursor) != FALSE;
}

void OnMouseMove(HWND window, LPARAM lParam) {
    Analyzer& a = The();
    POINT cursor = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ClientToScreen(window, &cursor);
    const bool inside = OverBars(window, cursor);
    if (a.hovering && !inside) {
        a.hovering = false;
        Show(GetParent(window), true);
        ReleaseCapture();
    } else if (!a.hovering && inside) {
        a.hovering = true;
        Show(GetParent(window), false);
        SetCapture(window);
    }
}

LRESULT CALLBACK AnalyzerProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    Analyzer& a = The();
    switch (message) {
    case WM_CREATE: {
        Locked guard;
        if (!BuildPicture(window)) return -1;
        DrawIdleLocked();
        return 1;
    }
    case WM_DESTROY: {
        Locked guard;
        KillTimerLocked();
        a.pixels = nullptr;
        a.window = nullptr;
        a.dc.reset();
        a.bitmap.reset();
        return 1;
    }
    case WM_PAINT: {
        if (!GetUpdateRect(window, nullptr, FALSE)) return 0;
        PAINTSTRUCT paint;
        HDC target = BeginPaint(window, &paint);
        {
            Locked guard;
            BlitAll(target);
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (!a.hideOnHover) return 1;
        OnMouseMove(window, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        a.hovering = false;
        return 0;
    default:
        return 1;
    }
}

}  // namespace

HWND Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, bool show) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = AnalyzerProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    {
        Locked guard;
        The().shape = playback::MakeSpectrumShape(width, height);
    }
    HWND window = CreateWindowExA(0, kClassName, nullptr, WS_CHILD, x, y, width, height, parent,
                                  nullptr, instance, nullptr);
    if (!window) return nullptr;
    ShowWindow(window, show ? SW_SHOW : SW_HIDE);
    return window;
}

void SetChannel(DWORD channel) { The().channel.store(channel); }

void Start() {
    Locked guard;
    Analyzer& a = The();
    if (a.timer) return;
    a.running = true;
    a.timer = timeSetEvent(kFrameMs, kFrameMs, Frame, 0, TIME_PERIODIC);
    if (!a.timer) KillTimerLocked();
}

void Stop() {
    // timeKillEvent does not wait for a frame already running: the lock does,
    // and the cleared flag keeps any later one from drawing.
    Locked guard;
    KillTimerLocked();
    DrawIdleLocked();
}

bool Running() {
    Locked guard;
    return The().timer != 0;
}

void SetBarArea(int width) {
    Locked guard;
    Analyzer& a = The();
    const int before = a.shape.barArea;
    playback::SetBarArea(a.shape, width);
    // Frames draw only within the area: bars beyond a narrower one go now.
    if (a.pixels && a.shape.barArea < before) playback::ClearPicture(a.shape, a.pixels);
    a.wholeNext = true;
}

void SetBarCount(int width) {
    Locked guard;
    Analyzer& a = The();
    a.shape.bars = (width < 0 ? 0 : width) / playback::kBarPitch;
    if (a.shape.bars * playback::kBarPitch > a.shape.width) a.shape.bars = a.shape.width / playback::kBarPitch;
    if (!a.timer) DrawIdleLocked();
}

void SetCentred(bool centred) {
    Locked guard;
    The().shape.centred = centred;
    The().wholeNext = true;
}

void SetHideOnHover(bool hide) { The().hideOnHover = hide; }

void DrawIdle() {
    Locked guard;
    DrawIdleLocked();
}

void Show(HWND window, bool on) {
    for (int id = kFirstInfoControl; id <= kLastInfoControl; ++id)
        ShowWindow(GetDlgItem(window, id), on ? SW_HIDE : SW_SHOW);
    if (The().window) ShowWindow(The().window, on ? SW_SHOW : SW_HIDE);
}

}  // namespace spectrum
