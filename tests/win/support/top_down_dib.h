// The header of a 32-bit top-down picture (row 0 at the top, one DWORD
// 0x00RRGGBB per pixel), for tests and test tools that read pixels.
#pragma once

#include <windows.h>

inline BITMAPINFO TopDownDib(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}
