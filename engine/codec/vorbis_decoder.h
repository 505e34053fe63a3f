// The Ogg Vorbis decoder of a stream, over VorbisStream.
#pragma once

#include <vector>

#include "engine/codec/decoder.h"
#include "engine/codec/vorbis_stream.h"

namespace engine {

class VorbisDecoder final : public StreamDecoder {
public:
    VorbisDecoder();
    bool Decode(ByteSource& in, DecodedPiece* out) override;
    uint64_t InputPosition() const override { return pushed_; }
    bool TakeComments(DecoderComments* out) override;
    bool Ready() const override { return stream_.ready(); }
    bool Failed() const override { return stream_.failed(); }
    int sample_rate() const { return stream_.sample_rate(); }

private:
    VorbisStream stream_;
    std::vector<float> samples_;
    uint64_t pushed_ = 0;
    std::vector<DecoderComments> comments_;
};

}  // namespace engine
