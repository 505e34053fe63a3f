#include "engine/codec/opus_codec.h"

#include <opus_multistream.h>

#include <algorithm>
#include <cstring>

#include "engine/codec/opus_header.h"

namespace engine {
namespace {

constexpr int kHeaderPackets = 2;  // OpusHead, OpusTags

class OpusCodec final : public OggCodec {
public:
    OpusCodec() = default;
    ~OpusCodec() override {
        if (decoder_) opus_multistream_decoder_destroy(decoder_);
    }
    OpusCodec(const OpusCodec&) = delete;
    OpusCodec& operator=(const OpusCodec&) = delete;

    bool header(const OggPacket& p) override {
        const uint8_t* d = p.data.data();
        const size_t n = p.data.size();
        if (headers_ == 0) {
            if (!parse_opus_head(d, n, &head_)) return false;
            int error = OPUS_OK;
            decoder_ = opus_multistream_decoder_create(kOpusRate, head_.channels, head_.streams,
                                                       head_.coupled, head_.mapping, &error);
            if (!decoder_ || error != OPUS_OK) return false;
            if (head_.output_gain != 0 &&
                opus_multistream_decoder_ctl(decoder_, OPUS_SET_GAIN(head_.output_gain)) != OPUS_OK)
                return false;
            pcm_.assign(kOpusMaxPacketFrames * static_cast<size_t>(head_.channels), 0.0f);
            to_skip_ = head_.pre_skip;
        } else if (!parse_opus_tags(d, n, nullptr, &comments_)) {
            return false;
        }
        note_granule(p, 0, 0);
        ++headers_;
        return true;
    }

    bool ready() const override { return headers_ >= kHeaderPackets; }
    int sample_rate() const override { return kOpusRate; }
    int channels() const override { return head_.channels; }
    const std::vector<std::string>& comments() const override { return comments_; }

    void decode(const OggPacket& p) override {
        start_ = end_ = 0;
        // Our own look at the table of contents first: what is not a packet
        // never reaches the decoder, and the granule count goes on without it.
        const size_t stated = opus_packet_frames(p.data.data(), p.data.size());
        if (stated == 0) return;
        const int got = opus_multistream_decode_float(decoder_, p.data.data(),
                                                      static_cast<opus_int32>(p.data.size()),
                                                      pcm_.data(), static_cast<int>(kOpusMaxPacketFrames), 0);
        size_t frames = got > 0 ? static_cast<size_t>(got) : 0;
        frames -= note_granule(p, stated, frames);
        const size_t skip = std::min<size_t>(to_skip_, frames);
        to_skip_ -= static_cast<uint32_t>(skip);
        start_ = skip;
        end_ = frames;
    }

    size_t read(float* out, size_t max_frames) override {
        const size_t n = std::min(max_frames, end_ - start_);
        const size_t ch = static_cast<size_t>(head_.channels);
        std::memcpy(out, pcm_.data() + start_ * ch, n * ch * sizeof(float));
        start_ += n;
        return n;
    }

private:
    // Counts a packet's `stated` frames towards the granule position its page
    // ends on, and returns how many of its `decoded` frames to cut from its
    // end: on the last page of the stream, those beyond its granule position.
    // Positions are the server's word, so a cut never reaches past this packet,
    // and one that goes backwards cuts nothing.
    size_t note_granule(const OggPacket& p, size_t stated, size_t decoded) {
        since_granule_ += stated;
        if (p.granule < 0) return 0;
        size_t cut = 0;
        if (p.last && last_granule_ >= 0 && p.granule >= last_granule_) {
            const uint64_t allowed = static_cast<uint64_t>(p.granule - last_granule_);
            if (since_granule_ > allowed) cut = static_cast<size_t>(std::min<uint64_t>(since_granule_ - allowed, decoded));
        }
        last_granule_ = p.granule;
        since_granule_ = 0;
        return cut;
    }

    OpusHead head_;
    OpusMSDecoder* decoder_ = nullptr;
    int headers_ = 0;
    std::vector<std::string> comments_;
    std::vector<float> pcm_;  // one packet's frames
    size_t start_ = 0, end_ = 0;  // those not read yet
    uint32_t to_skip_ = 0;        // pre-skip frames still to drop
    int64_t last_granule_ = -1;   // of the last page that ended a packet
    uint64_t since_granule_ = 0;  // frames stated by the packets since
};

}  // namespace

std::unique_ptr<OggCodec> make_opus_codec() { return std::make_unique<OpusCodec>(); }

}  // namespace engine
