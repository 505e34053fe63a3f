// Vorbis in Ogg: our checks of the header packets, and the reference decoder
// (libvorbis) behind them for one logical stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/ogg_codec.h"

namespace engine {

constexpr uint32_t kMinVorbisRate = 1000;
constexpr uint32_t kMaxVorbisRate = 192000;

// A Vorbis header packet of this type (1 identification, 3 comments, 5 setup).
bool is_vorbis_header(const uint8_t* data, size_t size, uint8_t type);

// Checks an identification header packet (type 1): version 0, 1 to
// kOggMaxChannels channels, a rate within the bounds above, block sizes
// 64 to 8192 in order, the framing bit. Fills rate and channels (may be null).
bool check_vorbis_identification(const uint8_t* data, size_t size, int* rate, int* channels);

// Parses a Vorbis comment header packet (type 3): vendor and "KEY=value"
// strings, bounded as parse_comment_list says. False if malformed.
bool parse_vorbis_comments(const uint8_t* data, size_t size, std::string* vendor,
                           std::vector<std::string>* comments);

// A decoder for one logical Vorbis stream, fed from its first header packet.
std::unique_ptr<OggCodec> make_vorbis_codec();

}  // namespace engine
