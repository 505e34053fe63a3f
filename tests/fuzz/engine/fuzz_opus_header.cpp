#include <cstdint>
#include <string>
#include <vector>

#include "engine/codec/opus_header.h"

// Any bytes as an OpusHead, an OpusTags and an audio packet: what our checks
// accept must be what the decoder can be given.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    OpusHead h;
    if (parse_opus_head(data, size, &h)) {
        if (h.channels < 1 || h.channels > kOggMaxChannels) __builtin_trap();
        if (h.family != 0 && h.family != 1) __builtin_trap();
        if (h.streams < 1 || h.streams > h.channels || h.coupled < 0 || h.coupled > h.streams)
            __builtin_trap();
        for (int c = 0; c < h.channels; ++c) {
            if (h.mapping[c] != 255 && h.mapping[c] >= h.streams + h.coupled) __builtin_trap();
        }
    }
    std::string vendor;
    std::vector<std::string> comments;
    if (parse_opus_tags(data, size, &vendor, &comments)) {
        if (comments.size() > kMaxOggComments || vendor.size() > kMaxOggCommentBytes) __builtin_trap();
        for (const auto& c : comments) {
            if (c.size() > kMaxOggCommentBytes) __builtin_trap();
        }
    }
    // The shortest frame is 2.5 ms, 120 frames at 48 kHz.
    const size_t frames = opus_packet_frames(data, size);
    if (frames > kOpusMaxPacketFrames || frames % 120 != 0) __builtin_trap();
    return 0;
}
