// AAC in ADTS frames through the system's Media Foundation AAC decoder
// (Windows 7 and later; under Wine the GStreamer one behind it): our framer
// in front, one ADTS frame per sample, the decoder made anew when the ADTS
// configuration changes, and frames it refuses replaced by silence of their
// length, so the clock does not jump.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "engine/codec/adts.h"
#include "engine/codec/decoder.h"

struct IMFTransform;

namespace engine {

// Media Foundation started, and a multithreaded apartment kept alive for the
// decoders, whatever threads create and free them. Once started, it stays
// up until the process ends.
class MfSession;

class AacTransform {
public:
    AacTransform();
    ~AacTransform();
    AacTransform(const AacTransform&) = delete;
    AacTransform& operator=(const AacTransform&) = delete;

    // False when the system has no decoder that takes this set-up.
    bool Open(const AacSetup& setup);
    void Close();
    bool IsOpen() const { return transform_ != nullptr; }
    // Of what Decode puts out now (they change when the decoder finds SBR).
    int rate() const { return rate_; }
    int channels() const { return channels_; }

    // One whole ADTS frame in; whatever the decoder puts out so far appended
    // to `pcm` (interleaved float). False when the decoder refused the frame.
    bool Decode(const uint8_t* frame, size_t size, std::vector<float>* pcm);
    // Everything the decoder still holds, at the end of the stream.
    void Drain(std::vector<float>* pcm);

private:
    bool ChooseOutput();
    // Takes the decoder's output until it needs input; false on a failure.
    bool Collect(std::vector<float>* pcm);

    const MfSession* session_ = nullptr;
    IMFTransform* transform_ = nullptr;
    bool float_out_ = true;
    bool provides_samples_ = false;
    DWORD out_buffer_bytes_ = 0;
    int rate_ = 0;
    int channels_ = 0;
    int64_t next_time_ = 0;  // 100 ns units, of the next frame in
    int64_t frame_time_ = 0;
    int64_t out_until_ = -1;  // where the output so far ends (100 ns), -1 before any
};

class AacDecoder final : public StreamDecoder {
public:
    // he_aac_expected: the server called it audio/aacp.
    explicit AacDecoder(bool he_aac_expected) : he_aac_(he_aac_expected) {}
    // Opens the decoder for the stream's first frame: 0, or BASS_ERROR_CODEC
    // when it is not AAC-LC or HE-AAC or the system cannot decode it.
    int Open(const AdtsHeader& first);

    bool Decode(ByteSource& in, DecodedPiece* out) override;
    uint64_t InputPosition() const override { return input_.frame_start(); }
    bool TakeComments(DecoderComments*) override { return false; }
    bool Ready() const override { return transform_.IsOpen(); }
    bool Failed() const override { return failed_; }

private:
    bool he_aac_;
    FramedInput<AdtsFormat> input_;
    AacTransform transform_;
    AdtsHeader format_;
    bool drained_ = false;
    bool failed_ = false;
    std::vector<float> pcm_;      // decoded, not yet handed out
    std::vector<float> samples_;  // handed out by the last Decode
};

// Opens a decoder of the common radio format once and closes it, which
// starts Media Foundation for the process (a start-up warm-up).
void WarmUpAacDecoder();

}  // namespace engine
