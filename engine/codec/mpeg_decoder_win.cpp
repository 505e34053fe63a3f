#include "engine/codec/mpeg_decoder_win.h"

#include <algorithm>

#include "playback/bass.h"

namespace engine {

namespace {

constexpr int kLayer3 = 3;            // the only layer the system codec takes
constexpr float kPcm16Scale = 1.0f / 32768.0f;

}  // namespace

int MpegDecoder::Open(const MpegHeader& first) {
    if (first.layer != kLayer3) return BASS_ERROR_CODEC;
    if (!mp3_.Open(first.sample_rate, first.channels, first.bitrate_kbps)) return BASS_ERROR_CODEC;
    return 0;
}

bool MpegDecoder::Decode(ByteSource& in, DecodedPiece* out) {
    for (;;) {
        MpegFrame frame;
        if (framer_.next_frame(&frame)) {
            frame_start_ = pushed_ - framer_.buffered() - frame.size;
            const MpegHeader& h = frame.header;
            if (h.layer != kLayer3) continue;
            if (frame.format_changed || !mp3_.IsOpen() || mp3_.sample_rate() != h.sample_rate ||
                mp3_.channels() != h.channels) {
                if (!mp3_.Open(h.sample_rate, h.channels, h.bitrate_kbps)) {
                    failed_ = true;
                    return false;
                }
            }
            pcm16_.clear();
            if (!mp3_.Decode(frame.data, frame.size, pcm16_) || pcm16_.empty()) continue;
            samples_.resize(pcm16_.size());
            for (size_t i = 0; i < pcm16_.size(); ++i) samples_[i] = pcm16_[i] * kPcm16Scale;
            out->samples = samples_.data();
            out->channels = mp3_.channels();
            out->frames = pcm16_.size() / static_cast<size_t>(out->channels);
            out->sample_rate = mp3_.sample_rate();
            return true;
        }
        if (ended_ || failed_) return false;
        if (feed_framer(in, framer_, &ended_, &pushed_) == FeedResult::Waiting) return false;
    }
}

}  // namespace engine
