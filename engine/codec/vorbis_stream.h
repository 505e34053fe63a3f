// Ogg Vorbis from a byte stream: our own page framing, packet assembly and
// header checks in front of the reference decoder (libvorbis). Chained streams
// (a new logical stream after the previous one, as radio servers send at each
// title) restart the decoder and report the new comments with the sample
// position at which they take effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/ogg_page.h"

namespace engine {

constexpr size_t kMaxVorbisComments = 256;
constexpr int kVorbisMaxChannels = 8;  // streams with more are refused (failed())
constexpr uint32_t kMinVorbisRate = 1000;
constexpr uint32_t kMaxVorbisRate = 192000;
constexpr size_t kMaxVorbisCommentBytes = 64 * 1024;  // one comment longer than this is cut
constexpr size_t kMaxVorbisHeaderBytes = 256 * 1024;  // a larger header packet is refused

// Checks an identification header packet (type 1): version 0, 1 to
// kVorbisMaxChannels channels, a rate within the bounds above, block sizes
// 64 to 8192 in order, the framing bit. Fills rate and channels (may be null).
bool check_vorbis_identification(const uint8_t* data, size_t size, int* rate, int* channels);

// Parses a Vorbis comment header packet (type 3): vendor and "KEY=value"
// strings, bounded by the counts above. False if malformed.
bool parse_vorbis_comments(const uint8_t* data, size_t size, std::string* vendor,
                           std::vector<std::string>* comments);

struct VorbisChange {
    uint64_t at_frame = 0;   // frames decode() had delivered before the change
    int sample_rate = 0;
    int channels = 0;
    std::vector<std::string> comments;  // "KEY=value", in stream order
};

class VorbisStream {
public:
    VorbisStream();
    ~VorbisStream();
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    // Appends stream bytes; returns how many were taken (bounded internal
    // buffer: feed the rest after decode() has made room).
    size_t push(const uint8_t* data, size_t size);

    // Decodes up to max_frames frames, interleaved float, channels() per
    // frame (so `out` holds max_frames * kVorbisMaxChannels floats to be
    // safe). Never returns frames of two logical streams in one call, so the
    // caller can check the format and take_change() between calls. Returns 0
    // when more input is needed.
    size_t decode(float* out, size_t max_frames);

    // The next change of logical stream (the first one included), oldest first.
    bool take_change(VorbisChange* out);

    bool ready() const;         // headers of the current stream were read
    int sample_rate() const;    // of the frames decode() returns next
    int channels() const;
    bool failed() const;        // not Vorbis, headers that fail our checks, or broken for good
    uint64_t frames_out() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace engine
