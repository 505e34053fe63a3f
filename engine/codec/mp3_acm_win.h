// MPEG audio layer III frames to 16-bit PCM through the Windows Audio
// Compression Manager, which every Windows (and Wine) carries.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class AcmMp3Decoder {
public:
    AcmMp3Decoder() = default;
    ~AcmMp3Decoder();
    AcmMp3Decoder(const AcmMp3Decoder&) = delete;
    AcmMp3Decoder& operator=(const AcmMp3Decoder&) = delete;

    // Opens a conversion for frames of this shape; false if no codec takes it.
    bool Open(int sampleRate, int channels, int bitrateKbps);
    void Close();
    bool IsOpen() const { return stream_ != nullptr; }
    int sample_rate() const { return rate_; }
    int channels() const { return channels_; }

    // Decodes one whole frame, appending interleaved samples to pcm.
    bool Decode(const uint8_t* frame, size_t size, std::vector<int16_t>& pcm);

private:
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_ = {};
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    size_t pending_ = 0;  // bytes of in_ the codec has not taken yet
    bool first_ = true;
    int rate_ = 0;
    int channels_ = 0;
};

}  // namespace engine
