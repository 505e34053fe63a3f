#include "engine/codec/adts.h"

#include <algorithm>

namespace engine {

namespace {

constexpr int kAdtsRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};
constexpr int kRateIndexCount = 13;
constexpr int kOctaveIndexes = 3;  // table steps from a rate to twice it (for 24 kHz and below)
constexpr int kChannelsOfConfig7 = 8;
constexpr int kRateFrames = 8;     // frames looked at for the data rate
constexpr uint16_t kPayloadAdts = 1;
constexpr uint16_t kProfileUnspecified = 0xFE;

// audioProfileLevelIndication values (ISO/IEC 14496-3, table 1.14).
constexpr uint16_t kAacLevel2 = 0x29;
constexpr uint16_t kAacLevel4 = 0x2A;
constexpr uint16_t kAacLevel5 = 0x2B;
constexpr uint16_t kHeAacLevel2 = 0x2C;
constexpr uint16_t kHeAacLevel4 = 0x2E;
constexpr uint16_t kHeAacLevel5 = 0x2F;
constexpr uint16_t kHeAacV2Level2 = 0x30;
constexpr int kLevel2MaxChannels = 2;
constexpr int kLevel4MaxChannels = 6;  // 5.1
constexpr int kLevel4MaxRate = 48000;

// Writes big-endian bit fields.
class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
};

uint16_t profile_level(const AacSetup& s) {
    const bool fits4 = s.output_rate <= kLevel4MaxRate;
    if (s.sbr == AacSbr::Explicit && s.ps) return kHeAacV2Level2;
    if (s.sbr == AacSbr::Explicit) {
        if (fits4 && s.output_channels <= kLevel2MaxChannels) return kHeAacLevel2;
        return fits4 && s.output_channels <= kLevel4MaxChannels ? kHeAacLevel4 : kHeAacLevel5;
    }
    // A core this slow may well carry SBR that nobody announced.
    if (s.output_rate <= kMaxHeAacCoreRate) return kProfileUnspecified;
    if (fits4 && s.output_channels <= kLevel2MaxChannels) return kAacLevel2;
    return fits4 && s.output_channels <= kLevel4MaxChannels ? kAacLevel4 : kAacLevel5;
}

}  // namespace

bool parse_adts_header(const uint8_t* p, AdtsHeader* out) {
    if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) return false;
    if ((p[1] & 0x06) != 0) return false;  // layer
    AdtsHeader h;
    h.mpeg2 = (p[1] & 0x08) != 0;
    h.crc = (p[1] & 0x01) == 0;
    h.object_type = (p[2] >> 6) + 1;
    h.rate_index = (p[2] >> 2) & 0x0F;
    if (h.rate_index >= kRateIndexCount) return false;
    h.sample_rate = kAdtsRates[h.rate_index];
    h.channel_config = ((p[2] & 0x01) << 2) | (p[3] >> 6);
    if (h.channel_config == 0) return false;
    h.channels = h.channel_config == 7 ? kChannelsOfConfig7 : h.channel_config;
    h.header_bytes = h.crc ? kAdtsHeaderBytes + 2 : kAdtsHeaderBytes;
    h.frame_bytes = (static_cast<size_t>(p[3] & 0x03) << 11) | (static_cast<size_t>(p[4]) << 3) |
                    (p[5] >> 5);
    if (h.frame_bytes <= h.header_bytes) return false;
    h.blocks = (p[6] & 0x03) + 1;
    *out = h;
    return true;
}

bool adts_headers_consistent(const AdtsHeader& a, const AdtsHeader& b) {
    return a.object_type == b.object_type && a.rate_index == b.rate_index &&
           a.channel_config == b.channel_config;
}

SyncChain adts_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           AdtsHeader* first) {
    return check_sync_chain<AdtsFormat>(p, avail, count, at_end, first);
}

uint32_t adts_byte_rate(const uint8_t* data, size_t size) {
    AdtsFramer framer;
    framer.push(data, size);
    framer.end();
    AdtsFrame frame;
    uint64_t bytes = 0, samples = 0;
    int rate = 0;
    for (int i = 0; i < kRateFrames && framer.next_frame(&frame); ++i) {
        bytes += frame.size;
        samples += static_cast<uint64_t>(kAacFrameSamples) * frame.header.blocks;
        rate = frame.header.sample_rate;
    }
    if (samples == 0) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes * rate / samples, UINT32_MAX));
}

bool aac_setup_for(const AdtsHeader& first, bool he_aac_expected, AacSetup* out) {
    if (first.object_type != kAacObjectLc) return false;
    AacSetup s;
    s.core_object_type = first.object_type;
    s.core_rate_index = first.rate_index;
    s.channel_config = first.channel_config;
    s.output_rate = first.sample_rate;
    s.output_channels = first.channels;
    if (he_aac_expected && first.sample_rate <= kMaxHeAacCoreRate &&
        first.rate_index >= kOctaveIndexes &&
        kAdtsRates[first.rate_index - kOctaveIndexes] == 2 * first.sample_rate) {
        s.sbr = AacSbr::Explicit;
        s.extension_rate_index = first.rate_index - kOctaveIndexes;
        s.output_rate = kAdtsRates[s.extension_rate_index];
        // HE-AAC v2 is a mono core whose parametric stereo makes two channels.
        if (first.channel_config == 1) {
            s.ps = true;
            s.output_channels = 2;
        }
    }
    s.profile_level = profile_level(s);
    *out = s;
    return true;
}

std::vector<uint8_t> aac_audio_specific_config(const AacSetup& s) {
    BitWriter w;
    if (s.sbr == AacSbr::Explicit) {
        w.put(static_cast<uint32_t>(s.ps ? kAacObjectPs : kAacObjectSbr), 5);
        w.put(static_cast<uint32_t>(s.core_rate_index), 4);
        w.put(static_cast<uint32_t>(s.channel_config), 4);
        w.put(static_cast<uint32_t>(s.extension_rate_index), 4);
        w.put(static_cast<uint32_t>(s.core_object_type), 5);
    } else {
        w.put(static_cast<uint32_t>(s.core_object_type), 5);
        w.put(static_cast<uint32_t>(s.core_rate_index), 4);
        w.put(static_cast<uint32_t>(s.channel_config), 4);
    }
    // GASpecificConfig: 1024-sample frames, no core coder, no extension.
    w.put(0, 3);
    return w.take();
}

std::vector<uint8_t> aac_decoder_user_data(const AacSetup& s) {
    std::vector<uint8_t> d;
    auto le16 = [&d](uint16_t v) {
        d.push_back(static_cast<uint8_t>(v & 0xFF));
        d.push_back(static_cast<uint8_t>(v >> 8));
    };
    le16(kPayloadAdts);
    le16(s.profile_level);
    le16(0);  // wStructType: HEAACWAVEINFO
    le16(0);  // wReserved1
    le16(0);  // dwReserved2
    le16(0);
    const std::vector<uint8_t> asc = aac_audio_specific_config(s);
    d.insert(d.end(), asc.begin(), asc.end());
    return d;
}

}  // namespace engine
