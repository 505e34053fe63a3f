#include "app/volume_balance.h"

#include <cmath>
#include <cstdio>

namespace app {

namespace {

constexpr double kPercent = 100.0;
constexpr double kDeadZone = 0.05;   // |pan| up to this snaps to the centre
constexpr double kTintSpan = 128.0;  // grey added at full balance
constexpr int kOutOfRangeVolume = 50;
constexpr int kOutOfRangeBalance = 0;
constexpr size_t kLabelSize = 16;

std::string Format(const char* format, int value) {
    char text[kLabelSize] = {};
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int VolumePosition(float volume) {
    if (!(volume >= 0.0f && volume <= 1.0f)) return kOutOfRangeVolume;
    return static_cast<int>(static_cast<double>(volume) * kPercent);
}

int BalancePosition(float pan) {
    if (!(pan >= -1.0f && pan <= 1.0f)) return kOutOfRangeBalance;
    return static_cast<int>(static_cast<double>(pan) * kPercent + kPercent);
}

SliderState ApplySliders(int volumePosition, int balancePosition) {
    SliderState s;
    s.volume = static_cast<float>(volumePosition / kPercent);
    s.pan = static_cast<float>((balancePosition - kBalanceCentre) / kPercent);
    // Compared after the rounding to float: 96..104 snap, 95 and 105 do not.
    if (static_cast<double>(s.pan) >= -kDeadZone && static_cast<double>(s.pan) <= kDeadZone) {
        s.pan = 0.0f;
        s.snapToCentre = true;
    }
    s.volumeLabel = Format("%d%%", static_cast<int>(static_cast<double>(s.volume) * kPercent));
    const uint8_t grey = static_cast<uint8_t>(
        kMeterGrey + static_cast<int>(kTintSpan * std::fabs(static_cast<double>(s.pan))));
    if (s.pan < 0.0f) {
        s.balanceLabel = Format("%d >", static_cast<int>(static_cast<double>(s.pan) * -kPercent));
        s.tinted = Side::Right;
        s.tint = grey;
    } else if (s.pan > 0.0f) {
        s.balanceLabel = Format("< %d", static_cast<int>(static_cast<double>(s.pan) * kPercent));
        s.tinted = Side::Left;
        s.tint = grey;
    } else {
        s.balanceLabel = "> <";
    }
    return s;
}

}  // namespace app
