#include "settings/options.h"

#include "settings/config_manager.h"

namespace settings {

const char kSection[] = "orvantis";

namespace {

// The seven keys in their fixed order; each names the option it holds.
struct OptionKey {
    const char* key;
    bool Options::*flag;   // a switch, stored as 0 or 1
    float Options::*value; // a number, stored as "%f"
};

constexpr OptionKey kKeys[] = {
    {"orvantis.ui.spectrum.show", &Options::showSpectrum, nullptr},
    {"orvantis.ui.spectrum.center", &Options::centerSpectrum, nullptr},
    {"orvantis.ui.spectrum.hide_on_hover", &Options::hideSpectrumOnHover, nullptr},
    {"orvantis.audio.vol", nullptr, &Options::volume},
    {"orvantis.audio.pan", nullptr, &Options::pan},
    {"orvantis.audio.mute_on_lock", &Options::muteOnLock, nullptr},
    {"orvantis.audio.mute_on_lock.fun", &Options::muteOnLockEffect, nullptr},
};

}  // namespace

void LoadOptions(CConfigManager* store, Options& options) {
    if (!store) return;
    store->SelectSection(kSection);
    for (const OptionKey& k : kKeys) {
        if (k.flag)
            options.*k.flag = store->ReadBool(k.key);
        else
            options.*k.value = static_cast<float>(store->ReadFloat(k.key));
    }
}

bool SaveOptions(CConfigManager* store, const Options& options) {
    if (!store) return false;
    store->SelectSection(kSection);
    bool ok = true;
    for (const OptionKey& k : kKeys)
        ok &= k.flag ? store->WriteBool(k.key, options.*k.flag)
                     : store->WriteFloat(k.key, options.*k.value);
    return ok;
}

}  // namespace settings
