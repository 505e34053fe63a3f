// Ogg audio from a byte stream: our own page framing and packet assembly in
// front of one codec per logical stream (Vorbis or Opus, by its first
// packet). Chained streams (a new logical stream after the previous one, as
// radio servers send at each title) start a new codec and report the new
// comments with the frame at which they take effect. More than two channels
// are mixed down to stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/ogg_codec.h"

namespace engine {

constexpr int kOggOutChannels = 2;  // the most decode() gives per frame

// Mixes frames of 3 to kOggMaxChannels channels in the Vorbis order down to
// stereo: centre and surrounds at -3 dB, rear centre at -6 dB to each side,
// LFE left out, each side scaled so that no mix of full-scale channels clips.
void downmix_to_stereo(const float* in, size_t frames, int channels, float* out);

struct OggChange {
    uint64_t at_frame = 0;   // frames decode() had delivered before the change
    int sample_rate = 0;
    int channels = 0;        // of decode()'s frames: 1 or 2
    std::vector<std::string> comments;  // "KEY=value", in stream order
};

class OggStream {
public:
    OggStream();
    ~OggStream();
    OggStream(const OggStream&) = delete;
    OggStream& operator=(const OggStream&) = delete;

    // Appends stream bytes; returns how many were taken (bounded internal
    // buffer: feed the rest after decode() has made room).
    size_t push(const uint8_t* data, size_t size);

    // Decodes up to max_frames frames, interleaved float, channels() per
    // frame (so `out` holds max_frames * kOggOutChannels floats). Never
    // returns frames of two logical streams in one call, so the caller can
    // check the format and take_change() between calls. Returns 0 when more
    // input is needed.
    size_t decode(float* out, size_t max_frames);

    // The next change of logical stream (the first one included), oldest first.
    bool take_change(OggChange* out);

    bool ready() const;         // headers of the current stream were read
    int sample_rate() const;    // of the frames decode() returns next
    int channels() const;
    bool failed() const;        // no codec of ours, headers that fail our checks, or broken for good
    uint64_t frames_out() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace engine
