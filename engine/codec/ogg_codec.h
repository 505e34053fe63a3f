// The codec of one logical Ogg stream behind our page framing: Vorbis or
// Opus, chosen by the first packet of the stream. Header packets come first,
// then audio packets, each decoded whole and read out before the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/ogg_page.h"

namespace engine {

constexpr int kOggMaxChannels = 8;                  // streams with more are refused
constexpr size_t kMaxOggHeaderBytes = 256 * 1024;   // a larger header packet is refused
constexpr size_t kMaxOggComments = 256;             // comments beyond these are dropped
constexpr size_t kMaxOggCommentBytes = 64 * 1024;   // one comment longer than this is cut

class OggCodec {
public:
    virtual ~OggCodec() = default;
    // The next header packet; false refuses the stream.
    virtual bool header(const OggPacket& packet) = 0;
    // Every header packet was read: audio can come.
    virtual bool ready() const = 0;
    virtual int sample_rate() const = 0;
    // 1 to kOggMaxChannels, in the Vorbis channel order (Opus shares it).
    virtual int channels() const = 0;
    virtual const std::vector<std::string>& comments() const = 0;
    // Decodes an audio packet; a damaged one gives nothing.
    virtual void decode(const OggPacket& packet) = 0;
    // Up to max_frames frames decoded and not read yet, interleaved; 0 when
    // the next packet is needed.
    virtual size_t read(float* out, size_t max_frames) = 0;
};

// The codec for a logical stream whose first packet begins with `first`
// (the body of its BOS page), or null when it is neither Vorbis nor Opus.
std::unique_ptr<OggCodec> make_ogg_codec(const uint8_t* first, size_t size);

// The comment list Vorbis and Opus share, from `at` in a header packet: a
// vendor string and a count of "KEY=value" strings, each with its 32-bit
// length. Bounded by the limits above; false if malformed.
bool parse_comment_list(const uint8_t* data, size_t size, size_t at, std::string* vendor,
                        std::vector<std::string>* comments);

}  // namespace engine
