#include "app/volume_lock.h"

#include <commctrl.h>
#include <wtsapi32.h>

#include "app/res/resource.h"
#include "app/volume_balance.h"
#include "engine/include/bass.h"
#include "settings/options.h"

namespace app {

namespace {

constexpr DWORD kFadeMs = 1000;
constexpr float kGlideLowHz = 100.0f;
constexpr WPARAM kThumbTrack = SB_THUMBTRACK;

COLORREF Grey(uint8_t level) { return RGB(level, level, level); }

void SendApply(HWND window) { SendMessageA(window, WM_HSCROLL, kThumbTrack, 0); }

}  // namespace

void InitSliders(HWND window, const Options& options) {
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGE, TRUE, MAKELPARAM(0, kVolumeMax));
    SendDlgItemMessageA(window, IDC_BALANCE, TBM_SETRANGE, TRUE, MAKELPARAM(0, kBalanceMax));
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, VolumePosition(options.volume));
    SendDlgItemMessageA(window, IDC_BALANCE, TBM_SETPOS, TRUE, BalancePosition(options.pan));
    SendApply(window);
}

void ApplySliders(HWND window, Options& options, DWORD stream) {
    const int volume = static_cast<int>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0));
    const int balance = static_cast<int>(SendDlgItemMessageA(window, IDC_BALANCE, TBM_GETPOS, 0, 0));
    const SliderState s = app::ApplySliders(volume, balance);
    if (s.snapToCentre)
        SendDlgItemMessageA(window, IDC_BALANCE, TBM_SETPOS, TRUE, kBalanceCentre);
    options.volume = s.volume;
    options.pan = s.pan;
    SetDlgItemTextA(window, IDC_VOLUME_VALUE, s.volumeLabel.c_str());
    const COLORREF plain = Grey(kMeterGrey);
    const COLORREF tinted = Grey(s.tint);
    SendDlgItemMessageA(window, IDC_LEFT_METER, PBM_SETBARCOLOR, 0,
                        s.tinted == Side::Left ? tinted : plain);
    SendDlgItemMessageA(window, IDC_RIGHT_METER, PBM_SETBARCOLOR, 0,
                        s.tinted == Side::Right ? tinted : plain);
    SetDlgItemTextA(window, IDC_BALANCE_VALUE, s.balanceLabel.c_str());
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, options.volume);
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_PAN, options.pan);
}

void MuteVolume(HWND window, Options& options) {
    options.volume = 0.0f;
    SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, 0);
    SendApply(window);
}

void CentreBalance(HWND window, Options& options) {
    options.pan = 0.0f;
    SendDlgItemMessageA(window, IDC_BALANCE, TBM_SETPOS, TRUE, kBalanceCentre);
    SendApply(window);
}

void OnSessionChange(WPARAM event, const Options& options, DWORD stream, float& savedFrequency) {
    if (!options.muteOnLock) return;
    if (event == WTS_SESSION_LOCK) {
        if (options.muteOnLockEffect) {
            BASS_ChannelGetAttribute(stream, BASS_ATTRIB_FREQ, &savedFrequency);
            BASS_ChannelSlideAttribute(stream, BASS_ATTRIB_FREQ, kGlideLowHz, kFadeMs);
        }
        BASS_ChannelSlideAttribute(stream, BASS_ATTRIB_VOL, 0.0f, kFadeMs);
    } else if (event == WTS_SESSION_UNLOCK) {
        if (options.muteOnLockEffect)
            BASS_ChannelSlideAttribute(stream, BASS_ATTRIB_FREQ, savedFrequency, kFadeMs);
        BASS_ChannelSlideAttribute(stream, BASS_ATTRIB_VOL, options.volume, kFadeMs);
    }
}

}  // namespace app
