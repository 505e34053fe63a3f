// The spectrum analyzer: a borderless child of the main window that draws a
// bar spectrum of the playing stream forty times a second from a multimedia
// timer, over the station information panel. One per process.
#pragma once

#include <windows.h>

namespace spectrum {

constexpr char kClassName[] = "OrvantisSpectrumAnalyzer";
constexpr UINT kFrameMs = 25;
// The controls of the main window the analyzer takes the place of.
constexpr int kFirstInfoControl = 3010;
constexpr int kLastInfoControl = 3016;

// Registers the class and creates the window at (x, y) under parent, shown or
// hidden; null when either fails. The picture is width x height pixels;
// width must be a multiple of 4.
HWND Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, bool show);

// The stream whose spectrum is drawn (0: none).
void SetChannel(DWORD channel);
// Starts the frame timer; Stop ends it, waits for a frame in flight and then
// shows the idle picture, so no frame draws after it returns.
void Start();
void Stop();
bool Running();

// Width of the area the bars cover (kept within the picture) ...
void SetBarArea(int width);
// ... and the bar count from a width (width / 8); redraws the idle picture
// when no timer runs.
void SetBarCount(int width);
void SetCentred(bool centred);
void SetHideOnHover(bool hide);
void DrawIdle();

// Hides the main window's information controls and shows the analyzer when
// on, and the other way round when off.
void Show(HWND window, bool on);

}  // namespace spectrum
