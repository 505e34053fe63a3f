#include "engine/codec/opus_header.h"

#include <cstring>

namespace engine {
namespace {

constexpr size_t kMagicBytes = 8;  // "OpusHead", "OpusTags"
constexpr int kMajorVersionShift = 4;
constexpr int kFamilyStereo = 0;
constexpr int kFamilySurround = 1;
constexpr size_t kSurroundTableAt = 21;  // stream count, coupled count, then the mapping
constexpr uint8_t kSilentChannel = 255;

// Frame length at 48 kHz of each of the 32 configurations of the table of
// contents: SILK (10, 20, 40, 60 ms in three bandwidths), hybrid (10, 20 ms
// in two), CELT (2.5, 5, 10, 20 ms in four).
constexpr uint16_t kConfigFrames[32] = {
    480, 960, 1920, 2880, 480, 960, 1920, 2880, 480, 960, 1920, 2880,
    480, 960, 480, 960,
    120, 240, 480, 960, 120, 240, 480, 960, 120, 240, 480, 960, 120, 240, 480, 960,
};
constexpr uint8_t kFrameCountMask = 0x3F;  // code 3's second byte

uint16_t read_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool is_opus_head(const uint8_t* data, size_t size) {
    return size >= kMagicBytes && std::memcmp(data, "OpusHead", kMagicBytes) == 0;
}

bool parse_opus_head(const uint8_t* data, size_t size, OpusHead* out) {
    if (size < kOpusHeadBytes || !is_opus_head(data, size)) return false;
    OpusHead h;
    h.version = data[8];
    // A new major version would be a layout we do not know.
    if (h.version >> kMajorVersionShift) return false;
    h.channels = data[9];
    h.pre_skip = read_le16(data + 10);
    h.input_rate = read_le32(data + 12);
    h.output_gain = static_cast<int16_t>(read_le16(data + 16));
    h.family = data[18];
    if (h.channels < 1 || h.channels > kOggMaxChannels) return false;
    if (h.family == kFamilyStereo) {
        if (h.channels > 2) return false;
        h.streams = 1;
        h.coupled = h.channels - 1;
        h.mapping[0] = 0;
        h.mapping[1] = 1;
    } else if (h.family == kFamilySurround) {
        if (size < kSurroundTableAt + static_cast<size_t>(h.channels)) return false;
        h.streams = data[19];
        h.coupled = data[20];
        // A stream that feeds no output channel would only cost a decoder's
        // memory: there are never more than channels.
        if (h.streams < 1 || h.streams > h.channels || h.coupled > h.streams) return false;
        for (int c = 0; c < h.channels; ++c) {
            const uint8_t m = data[kSurroundTableAt + static_cast<size_t>(c)];
            if (m != kSilentChannel && m >= h.streams + h.coupled) return false;
            h.mapping[c] = m;
        }
    } else {
        // Ambisonics (2, 3), undefined channels (255) and the rest: nothing a
        // radio can be played as.
        return false;
    }
    if (out) *out = h;
    return true;
}

bool parse_opus_tags(const uint8_t* data, size_t size, std::string* vendor,
                     std::vector<std::string>* comments) {
    return size >= kMagicBytes && std::memcmp(data, "OpusTags", kMagicBytes) == 0 &&
           parse_comment_list(data, size, kMagicBytes, vendor, comments);
}

size_t opus_packet_frames(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t per_frame = kConfigFrames[data[0] >> 3];
    size_t count = 0;
    switch (data[0] & 3) {
    case 0: count = 1; break;
    case 1:
    case 2: count = 2; break;
    default:
        if (size < 2) return 0;
        count = data[1] & kFrameCountMask;
        break;
    }
    const size_t frames = per_frame * count;
    return frames <= kOpusMaxPacketFrames ? frames : 0;
}

}  // namespace engine
