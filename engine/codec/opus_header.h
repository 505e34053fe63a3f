// Opus in Ogg, the parts we check ourselves before the reference decoder sees
// a byte: the identification header (OpusHead), the comment header
// (OpusTags) and the duration an audio packet's table of contents states.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/codec/ogg_codec.h"

namespace engine {

constexpr int kOpusRate = 48000;  // what the decoder gives, whatever was encoded
constexpr size_t kOpusMaxPacketFrames = 5760;  // 120 ms at 48 kHz, the longest packet
constexpr size_t kOpusHeadBytes = 19;          // mapping family 0; family 1 adds its table

struct OpusHead {
    int version = 0;
    int channels = 0;            // 1 to kOggMaxChannels
    uint32_t pre_skip = 0;       // frames at 48 kHz to drop at the start
    uint32_t input_rate = 0;     // the encoder's input, for information only (0: unknown)
    int16_t output_gain = 0;     // Q7.8 dB, applied to every frame
    int family = 0;              // channel mapping family: 0 or 1
    int streams = 0;             // Opus streams in each packet ...
    int coupled = 0;             // ... of which this many are stereo
    uint8_t mapping[kOggMaxChannels] = {};  // output channel -> decoded channel, 255 silent
};

// The packet begins with "OpusHead": the first of an Opus stream.
bool is_opus_head(const uint8_t* data, size_t size);

// An identification header: "OpusHead", a major version of 0 (versions 0-15
// read alike), and a channel layout we decode: family 0 (mono or stereo)
// or family 1 (1 to 8 channels in the Vorbis order) with no more streams
// than channels and a mapping table that names only decoded channels. Fills
// *head (may be null).
bool parse_opus_head(const uint8_t* data, size_t size, OpusHead* head);

// A comment header: "OpusTags" and the comment list (parse_comment_list).
bool parse_opus_tags(const uint8_t* data, size_t size, std::string* vendor,
                     std::vector<std::string>* comments);

// Frames at 48 kHz an audio packet holds by its table of contents, or 0 for
// a packet that cannot be one (empty, no frames, longer than 120 ms).
size_t opus_packet_frames(const uint8_t* data, size_t size);

}  // namespace engine
