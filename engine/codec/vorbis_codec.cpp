#include "engine/codec/vorbis_codec.h"

#include <vorbis/codec.h>

#include <cstring>

namespace engine {
namespace {

constexpr int kHeaderPackets = 3;  // identification, comments, setup
constexpr size_t kIdHeaderBytes = 30;
constexpr size_t kHeaderPrefixBytes = 7;  // type and "vorbis"
constexpr int kMinBlockExponent = 6;   // block sizes 64 ...
constexpr int kMaxBlockExponent = 13;  // ... 8192

// The reference decoder gets whole packets of one logical stream whose
// headers passed our checks.
class VorbisCodec final : public OggCodec {
public:
    VorbisCodec() {
        vorbis_info_init(&info_);
        vorbis_comment_init(&comment_);
    }
    ~VorbisCodec() override {
        if (decoding_) {
            vorbis_block_clear(&block_);
            vorbis_dsp_clear(&dsp_);
        }
        vorbis_comment_clear(&comment_);
        vorbis_info_clear(&info_);
    }
    VorbisCodec(const VorbisCodec&) = delete;
    VorbisCodec& operator=(const VorbisCodec&) = delete;

    bool header(const OggPacket& p) override {
        const uint8_t* d = p.data.data();
        const size_t n = p.data.size();
        bool ok = true;
        if (headers_ == 0) ok = check_vorbis_identification(d, n, nullptr, nullptr);
        if (headers_ == 1) ok = parse_vorbis_comments(d, n, nullptr, &comments_);
        if (headers_ == 2) ok = is_vorbis_header(d, n, 5);
        ogg_packet op = as_ogg(p);
        if (!ok || vorbis_synthesis_headerin(&info_, &comment_, &op) != 0) return false;
        if (++headers_ < kHeaderPackets) return true;
        if (info_.channels < 1 || info_.channels > kOggMaxChannels ||
            vorbis_synthesis_init(&dsp_, &info_) != 0)
            return false;
        if (vorbis_block_init(&dsp_, &block_) != 0) {
            vorbis_dsp_clear(&dsp_);
            return false;
        }
        decoding_ = true;
        return true;
    }

    bool ready() const override { return decoding_; }
    int sample_rate() const override { return static_cast<int>(info_.rate); }
    int channels() const override { return info_.channels; }
    const std::vector<std::string>& comments() const override { return comments_; }

    void decode(const OggPacket& p) override {
        ogg_packet op = as_ogg(p);
        // A damaged packet is skipped; the next one decodes on its own.
        if (vorbis_synthesis(&block_, &op) == 0) vorbis_synthesis_blockin(&dsp_, &block_);
    }

    size_t read(float* out, size_t max_frames) override {
        float** pcm = nullptr;
        const int ready = vorbis_synthesis_pcmout(&dsp_, &pcm);
        if (ready <= 0) return 0;
        size_t n = static_cast<size_t>(ready);
        if (n > max_frames) n = max_frames;
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < info_.channels; ++c) *out++ = pcm[c][i];
        vorbis_synthesis_read(&dsp_, static_cast<int>(n));
        return n;
    }

private:
    ogg_packet as_ogg(const OggPacket& p) {
        ogg_packet op = {};
        // libvorbis takes a non-const pointer but only reads the packet.
        op.packet = const_cast<unsigned char*>(p.data.data());
        op.bytes = static_cast<long>(p.data.size());
        op.b_o_s = packet_number_ == 0;
        // Granule positions are the server's word: end trimming is not worth trusting it.
        op.granulepos = -1;
        op.packetno = packet_number_++;
        return op;
    }

    vorbis_info info_;
    vorbis_comment comment_;
    vorbis_dsp_state dsp_;
    vorbis_block block_;
    bool decoding_ = false;
    int headers_ = 0;
    int64_t packet_number_ = 0;
    std::vector<std::string> comments_;
};

}  // namespace

bool is_vorbis_header(const uint8_t* data, size_t size, uint8_t type) {
    return size >= kHeaderPrefixBytes && data[0] == type && std::memcmp(data + 1, "vorbis", 6) == 0;
}

bool check_vorbis_identification(const uint8_t* data, size_t size, int* rate, int* channels) {
    if (size < kIdHeaderBytes || !is_vorbis_header(data, size, 1)) return false;
    if (read_le32(data + 7) != 0) return false;  // only version 0 exists
    const int ch = data[11];
    const uint32_t r = read_le32(data + 12);
    const int small = data[28] & 0x0F, large = data[28] >> 4;
    if (ch < 1 || ch > kOggMaxChannels || r < kMinVorbisRate || r > kMaxVorbisRate) return false;
    if (small < kMinBlockExponent || large > kMaxBlockExponent || small > large) return false;
    if (!(data[29] & 1)) return false;  // framing bit
    if (rate) *rate = static_cast<int>(r);
    if (channels) *channels = ch;
    return true;
}

bool parse_vorbis_comments(const uint8_t* data, size_t size, std::string* vendor,
                           std::vector<std::string>* comments) {
    return is_vorbis_header(data, size, 3) &&
           parse_comment_list(data, size, kHeaderPrefixBytes, vendor, comments);
}

std::unique_ptr<OggCodec> make_vorbis_codec() { return std::make_unique<VorbisCodec>(); }

}  // namespace engine
