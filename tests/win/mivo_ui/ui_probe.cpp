#include "ui_probe.h"

#include <chrono>
#include <thread>

#include "top_down_dib.h"

namespace uiprobe {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

DWORD PixelOf(COLORREF colour) {
    return (static_cast<DWORD>(GetRValue(colour)) << 16) | (static_cast<DWORD>(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

HWND FindOwnWindow(const char* className, const char* caption) {
    for (HWND window = FindWindowExA(nullptr, nullptr, className, caption); window != nullptr;
         window = FindWindowExA(nullptr, window, className, caption)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND WaitForWindow(const char* className, const char* caption, int timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindOwnWindow(className, caption)) != nullptr; }, timeoutMs);
    return found;
}

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT RectInParent(HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int Pixels::Count(COLORREF colour) const {
    const DWORD want = PixelOf(colour);
    int n = 0;
    for (DWORD p : data) n += (p & 0xFFFFFF) == want;
    return n;
}

int Pixels::LongestRun(COLORREF colour) const {
    const DWORD want = PixelOf(colour);
    int longest = 0;
    for (int y = 0; y < height; ++y) {
        int run = 0;
        for (int x = 0; x < width; ++x) {
            run = (At(x, y) & 0xFFFFFF) == want ? run + 1 : 0;
            if (run > longest) longest = run;
        }
    }
    return longest;
}

Pixels Render(int width, int height, const std::function<void(HDC)>& draw) {
    BITMAPINFO info = TopDownDib(width, height);
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    draw(dc);
    GdiFlush();
    Pixels pixels;
    pixels.width = width;
    pixels.height = height;
    const DWORD* source = static_cast<const DWORD*>(bits);
    pixels.data.assign(source, source + static_cast<size_t>(width) * height);
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

HWND MakeParent(int x, int y, int width, int height, bool visible) {
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), x, y, rect.right - rect.left,
                           rect.bottom - rect.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace uiprobe
