// The MPEG audio decoder of a stream: our framer in front of the system's
// layer III codec (AcmMp3Decoder).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/codec/decoder.h"
#include "engine/codec/mp3_acm_win.h"
#include "engine/codec/mpeg_header.h"

namespace engine {

class MpegDecoder final : public StreamDecoder {
public:
    // Opens the codec for the stream's first frame: 0, or BASS_ERROR_CODEC
    // for layers I and II and formats the codec refuses.
    int Open(const MpegHeader& first);

    bool Decode(ByteSource& in, DecodedPiece* out) override;
    uint64_t InputPosition() const override { return input_.frame_start(); }
    bool TakeComments(DecoderComments*) override { return false; }
    bool Ready() const override { return mp3_.IsOpen(); }
    bool Failed() const override { return failed_; }

private:
    FramedInput<MpegFormat> input_;
    AcmMp3Decoder mp3_;
    int priming_ = 0;  // frames still to decode unheard after a seam
    bool failed_ = false;
    std::vector<int16_t> pcm16_;
    std::vector<float> samples_;
};

}  // namespace engine
