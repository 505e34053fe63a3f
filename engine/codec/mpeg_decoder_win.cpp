#include "engine/codec/mpeg_decoder_win.h"

#include <algorithm>

#include "engine/include/bass.h"

namespace engine {

namespace {

constexpr int kLayer3 = 3;            // the only layer the system codec takes
// Layer III frames reach back at most 511 bytes, less than two frames of any
// radio bit rate; a frame of delay in the codec makes it two.
constexpr int kFramesPrimedAfterSeam = 2;
constexpr float kPcm16Scale = 1.0f / 32768.0f;

}  // namespace

int MpegDecoder::Open(const MpegHeader& first) {
    if (first.layer != kLayer3) return BASS_ERROR_CODEC;
    if (!mp3_.Open(first.sample_rate, first.channels, first.bitrate_kbps)) return BASS_ERROR_CODEC;
    return 0;
}

bool MpegDecoder::Decode(ByteSource& in, DecodedPiece* out) {
    for (;;) {
        if (failed_) return false;
        MpegFrame frame;
        bool after_seam = false;
        if (!input_.Next(in, &frame, &after_seam)) return false;
        // The first frames of a new connection reach back into a bit
        // reservoir the codec holds from the old one: they are decoded so
        // the reservoir fills anew, and what they sound like is not played.
        // Starting the codec afresh would cost its delay in silence.
        if (after_seam) priming_ = kFramesPrimedAfterSeam;
        const MpegHeader& h = frame.header;
        if (h.layer != kLayer3 || is_mpeg_info_frame(frame.data, frame.size, h)) continue;
        if (frame.format_changed || !mp3_.IsOpen() || mp3_.sample_rate() != h.sample_rate ||
            mp3_.channels() != h.channels) {
            if (!mp3_.Open(h.sample_rate, h.channels, h.bitrate_kbps)) {
                failed_ = true;
                return false;
            }
        }
        pcm16_.clear();
        if (!mp3_.Decode(frame.data, frame.size, pcm16_) || pcm16_.empty()) continue;
        if (priming_ > 0) {
            --priming_;
            continue;
        }
        samples_.resize(pcm16_.size());
        for (size_t i = 0; i < pcm16_.size(); ++i) samples_[i] = pcm16_[i] * kPcm16Scale;
        out->samples = samples_.data();
        out->channels = mp3_.channels();
        out->frames = pcm16_.size() / static_cast<size_t>(out->channels);
        out->sample_rate = mp3_.sample_rate();
        return true;
    }
}

}  // namespace engine
