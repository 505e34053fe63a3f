// One decoder per stream format behind one small interface: it pulls the
// compressed bytes from the stream's ring and hands out interleaved float
// frames, with the rate they play at and the comments of chained streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The compressed bytes as the download side put them into the ring.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to n bytes without taking them.
    virtual size_t Peek(uint8_t* out, size_t n) = 0;
    virtual void Take(size_t n) = 0;
    // True once no byte will come beyond those readable now.
    virtual bool Ended() const = 0;
    // True (once) when the bytes from here on come from a new connection:
    // whatever the decoder holds of the old one is not continued by them.
    // Peek never hands out bytes from both sides of such a seam at once.
    virtual bool TakeSeam() { return false; }
};

struct DecodedPiece {
    const float* samples = nullptr;  // interleaved; valid until the next Decode
    size_t frames = 0;
    int channels = 0;
    int sample_rate = 0;
};

// Comments of a new logical stream (the first one included), effective from
// the frame that the decoder had handed out before it.
struct DecoderComments {
    uint64_t at_frame = 0;
    std::vector<std::string> comments;
};

class StreamDecoder {
public:
    virtual ~StreamDecoder() = default;
    // The next frames, or false when more input is needed or none will come.
    virtual bool Decode(ByteSource& in, DecodedPiece* out) = 0;
    // Bytes of the source the decoder has gone through: ICY titles that were
    // received before this point belong to the audio it hands out next.
    virtual uint64_t InputPosition() const = 0;
    virtual bool TakeComments(DecoderComments* out) = 0;
    virtual bool Ready() const = 0;   // headers read: audio can come
    virtual bool Failed() const = 0;  // refused or broken for good: no audio will come
};

}  // namespace engine
