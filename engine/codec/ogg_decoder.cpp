#include "engine/codec/ogg_decoder.h"

namespace engine {

namespace {

constexpr size_t kInputPiece = 4096;  // bytes handed to the page reader at a time
constexpr size_t kPieceFrames = 1024;

}  // namespace

OggDecoder::OggDecoder() : samples_(kPieceFrames * kOggOutChannels) {}

bool OggDecoder::Decode(ByteSource& in, DecodedPiece* out) {
    uint8_t bytes[kInputPiece];
    for (;;) {
        // Frames of one call share the format channels() reports after it.
        const size_t n = stream_.decode(samples_.data(), kPieceFrames);
        OggChange change;
        while (stream_.take_change(&change))
            comments_.push_back({change.at_frame, std::move(change.comments)});
        if (n > 0) {
            out->samples = samples_.data();
            out->frames = n;
            out->channels = stream_.channels();
            out->sample_rate = stream_.sample_rate();
            return true;
        }
        if (stream_.failed()) return false;
        // A new connection begins with its own headers, and the page the old
        // one left unfinished fails its checksum: the pages take care of it.
        while (in.TakeSeam()) {
        }
        const size_t got = in.Peek(bytes, sizeof bytes);
        if (got == 0) return false;
        const size_t taken = stream_.push(bytes, got);
        if (taken == 0) return false;
        in.Take(taken);
        pushed_ += taken;
    }
}

bool OggDecoder::TakeComments(DecoderComments* out) {
    if (comments_.empty()) return false;
    *out = std::move(comments_.front());
    comments_.erase(comments_.begin());
    return true;
}

}  // namespace engine
