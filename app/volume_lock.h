// The main window's volume and balance sliders, their value labels, the
// meters' tint and the fade when the session is locked. All on the UI thread,
// acting on the current stream (0 when idle: the engine then refuses the
// calls, which is harmless).
#pragma once

#include <windows.h>

struct Options;

namespace app {

// Slider ranges and positions from the options, then applied to the window
// as a drag would (WM_HSCROLL, SB_THUMBTRACK, sent to window).
void InitSliders(HWND window, const Options& options);
// WM_HSCROLL: reads both sliders, keeps the values in options, shows them
// and sets them on stream.
void ApplySliders(HWND window, Options& options, DWORD stream);
// Clicks on the value labels: mute, and centre the balance.
void MuteVolume(HWND window, Options& options);
void CentreBalance(HWND window, Options& options);
// WM_WTSSESSION_CHANGE: with mute-on-lock, fade out on lock and back in on
// unlock; with the effect also glide the pitch down to 100 Hz and back.
void OnSessionChange(WPARAM event, const Options& options, DWORD stream, float& savedFrequency);

}  // namespace app
