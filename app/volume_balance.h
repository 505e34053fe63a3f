// The arithmetic of the volume and balance sliders: positions from the stored
// values, values and label texts from the positions, and the meter tint that
// shows which side the balance attenuates. No windows.h: tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace app {

constexpr int kVolumeMax = 100;    // slider 3019: 0..100
constexpr int kBalanceMax = 200;   // slider 3022: 0..200
constexpr int kBalanceCentre = 100;
constexpr uint8_t kMeterGrey = 89;  // RGB(89, 89, 89): meters and labels

// Slider positions for the values loaded from the settings; out-of-range
// values give 50 (volume) and 0 (balance).
int VolumePosition(float volume);
int BalancePosition(float pan);

enum class Side { None, Left, Right };

// What the two slider positions come to.
struct SliderState {
    float volume = 0.0f;
    float pan = 0.0f;
    bool snapToCentre = false;  // the balance fell into the dead zone: put the slider at 100
    std::string volumeLabel;    // "28%"
    std::string balanceLabel;   // "5 >", "< 5" or "> <"
    Side tinted = Side::None;   // the meter drawn in the lighter grey
    uint8_t tint = kMeterGrey;  // its grey level, 89 + 128 x |pan|
};
SliderState ApplySliders(int volumePosition, int balancePosition);

}  // namespace app
