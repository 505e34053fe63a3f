#include "engine/codec/mpeg_header.h"

#include <cstring>

namespace engine {
namespace {

// Bit rates in kbit/s by [row][index]; index 0 (free format) and 15 are invalid.
constexpr int kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // V1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // V1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // V1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // V2/2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // V2/2.5 II, III
};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000},  // V1
    {22050, 24000, 16000},  // V2
    {11025, 12000, 8000},   // V2.5
};
constexpr int kModeMono = 3;

}  // namespace

bool parse_mpeg_header(const uint8_t* p, MpegHeader* out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version_bits = (p[1] >> 3) & 3;
    const int layer_bits = (p[1] >> 1) & 3;
    const int bitrate_index = p[2] >> 4;
    const int rate_index = (p[2] >> 2) & 3;
    if (version_bits == 1 || layer_bits == 0 || bitrate_index == 0 || bitrate_index == 15 ||
        rate_index == 3 || (p[3] & 3) == 2)
        return false;

    MpegHeader h;
    h.version = version_bits == 3 ? MpegVersion::V1
                : version_bits == 2 ? MpegVersion::V2
                                    : MpegVersion::V25;
    h.layer = 4 - layer_bits;
    h.crc = (p[1] & 1) == 0;
    h.padding = (p[2] >> 1) & 1;
    h.channel_mode = p[3] >> 6;
    h.channels = h.channel_mode == kModeMono ? 1 : 2;
    const bool v1 = h.version == MpegVersion::V1;
    const int row = v1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.bitrate_kbps = kBitrates[row][bitrate_index];
    h.sample_rate = kSampleRates[v1 ? 0 : (h.version == MpegVersion::V2 ? 1 : 2)][rate_index];

    if (v1 && h.layer == 2) {
        // Combinations the standard does not allow for layer II.
        const int br = h.bitrate_kbps;
        const bool low = br == 32 || br == 48 || br == 56 || br == 80;
        const bool high = br == 224 || br == 256 || br == 320 || br == 384;
        if ((h.channels == 2 && low) || (h.channels == 1 && high)) return false;
    }

    const int bps = h.bitrate_kbps * 1000;
    const int pad = h.padding ? 1 : 0;
    if (h.layer == 1) {
        h.samples_per_frame = 384;
        h.frame_bytes = (12 * bps / h.sample_rate + pad) * 4;
    } else if (h.layer == 2 || v1) {
        h.samples_per_frame = 1152;
        h.frame_bytes = 144 * bps / h.sample_rate + pad;
    } else {
        h.samples_per_frame = 576;
        h.frame_bytes = 72 * bps / h.sample_rate + pad;
    }
    *out = h;
    return true;
}

bool mpeg_headers_consistent(const MpegHeader& a, const MpegHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sample_rate == b.sample_rate &&
           a.channels == b.channels;
}

MpegChain mpeg_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           MpegHeader* first) {
    return check_sync_chain<MpegFormat>(p, avail, count, at_end, first);
}

bool is_mpeg_info_frame(const uint8_t* frame, size_t size, const MpegHeader& h) {
    if (h.layer != 3) return false;
    constexpr size_t kCrcBytes = 2;
    constexpr size_t kVbriAt = kMpegHeaderBytes + 32;  // always after 32 bytes of side info
    constexpr size_t kTagBytes = 4;
    // Layer III side information: 32/17 bytes (MPEG-1 stereo/mono), 17/9 (MPEG-2 and 2.5).
    const bool mono = h.channels == 1;
    const size_t side = h.version == MpegVersion::V1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const size_t at = kMpegHeaderBytes + (h.crc ? kCrcBytes : 0) + side;
    auto tag_at = [&](size_t pos, const char* tag) {
        return pos + kTagBytes <= size && std::memcmp(frame + pos, tag, kTagBytes) == 0;
    };
    return tag_at(at, "Xing") || tag_at(at, "Info") || tag_at(kVbriAt, "VBRI");
}

size_t id3v2_tag_size(const uint8_t* p, size_t avail) {
    if (avail < 10 || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF) return 0;
    size_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80) return 0;
        body = (body << 7) | p[i];
    }
    const bool footer = (p[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

}  // namespace engine
