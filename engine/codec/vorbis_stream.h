// Ogg Vorbis from a byte stream: our own page framing, stb_vorbis for the
// audio, our own reading of the comment header. Chained streams (a new logical
// stream after the previous one, as radio servers send at each title) restart
// the decoder and report the new comments with the sample position at which
// they take effect.
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
constexpr size_t kMaxVorbisCommentBytes = 64 * 1024;  // one comment longer than this is cut

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
    // frame (so `out` holds max_frames * kVorbisMaxChannels floats to be safe). Never returns frames of two logical streams in one call, so the
    // caller can check format() and take_change() between calls. Returns 0
    // when more input is needed.
    size_t decode(float* out, size_t max_frames);

    // The next change of logical stream (the first one included), oldest first.
    bool take_change(VorbisChange* out);

    bool ready() const;         // headers of the current stream were read
    int sample_rate() const;    // of the frames decode() returns next
    int channels() const;
    bool failed() const;        // the stream is not Vorbis or is unrecoverably broken
    uint64_t frames_out() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace engine
