// The user's options as the program keeps them between loading and saving.
#pragma once

class CConfigManager;

struct Options {
    bool showSpectrum = false;
    bool centerSpectrum = false;
    bool hideSpectrumOnHover = false;
    float volume = 0.0f;  // 0.0 to 1.0
    float pan = 0.0f;     // -1.0 (left) to 1.0 (right)
    bool muteOnLock = false;
    bool muteOnLockEffect = false;  // pitch glide at stream start, lock and unlock
};

namespace settings {

extern const char kSection[];

// Both select the section, then go through the seven keys in their fixed
// order; without a store they do nothing. SaveOptions answers whether every
// write succeeded.
void LoadOptions(CConfigManager* store, Options& options);
bool SaveOptions(CConfigManager* store, const Options& options);

}  // namespace settings
