#include "settings/options.h"

#include "settings/config_manager.h"

namespace settings {

const char kSection[] = "orvantis";

namespace {
constexpr char kShowSpectrum[] = "orvantis.ui.spectrum.show";
constexpr char kCenterSpectrum[] = "orvantis.ui.spectrum.center";
constexpr char kHideOnHover[] = "orvantis.ui.spectrum.hide_on_hover";
constexpr char kVolume[] = "orvantis.audio.vol";
constexpr char kPan[] = "orvantis.audio.pan";
constexpr char kMuteOnLock[] = "orvantis.audio.mute_on_lock";
constexpr char kMuteOnLockEffect[] = "orvantis.audio.mute_on_lock.fun";
}  // namespace

void LoadOptions(CConfigManager* store, Options& options) {
    if (!store) return;
    store->SelectSection(kSection);
    options.showSpectrum = store->ReadBool(kShowSpectrum);
    options.centerSpectrum = store->ReadBool(kCenterSpectrum);
    options.hideSpectrumOnHover = store->ReadBool(kHideOnHover);
    options.volume = static_cast<float>(store->ReadFloat(kVolume));
    options.pan = static_cast<float>(store->ReadFloat(kPan));
    options.muteOnLock = store->ReadBool(kMuteOnLock);
    options.muteOnLockEffect = store->ReadBool(kMuteOnLockEffect);
}

bool SaveOptions(CConfigManager* store, const Options& options) {
    if (!store) return false;
    store->SelectSection(kSection);
    bool ok = true;
    ok &= store->WriteBool(kShowSpectrum, options.showSpectrum);
    ok &= store->WriteBool(kCenterSpectrum, options.centerSpectrum);
    ok &= store->WriteBool(kHideOnHover, options.hideSpectrumOnHover);
    ok &= store->WriteFloat(kVolume, options.volume);
    ok &= store->WriteFloat(kPan, options.pan);
    ok &= store->WriteBool(kMuteOnLock, options.muteOnLock);
    ok &= store->WriteBool(kMuteOnLockEffect, options.muteOnLockEffect);
    return ok;
}

}  // namespace settings
