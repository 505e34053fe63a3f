// The Ogg decoder of a stream (Vorbis or Opus, per logical stream), over OggStream.
#pragma once

#include <vector>

#include "engine/codec/decoder.h"
#include "engine/codec/ogg_stream.h"

namespace engine {

class OggDecoder final : public StreamDecoder {
public:
    OggDecoder();
    bool Decode(ByteSource& in, DecodedPiece* out) override;
    uint64_t InputPosition() const override { return pushed_; }
    bool TakeComments(DecoderComments* out) override;
    bool Ready() const override { return stream_.ready(); }
    bool Failed() const override { return stream_.failed(); }
    int sample_rate() const { return stream_.sample_rate(); }

private:
    OggStream stream_;
    std::vector<float> samples_;
    uint64_t pushed_ = 0;
    std::vector<DecoderComments> comments_;
};

}  // namespace engine
