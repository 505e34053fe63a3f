#include "engine/codec/vorbis_stream.h"

#include <vorbis/codec.h>

#include <cstring>
#include <deque>

namespace engine {
namespace {

constexpr int kMaxForeignBosPages = 16;    // other codecs' streams before we give up
constexpr int kMaxPagesBeforeStream = 64;  // pages without a Vorbis start (joined mid-stream)
constexpr int kHeaderPackets = 3;          // identification, comments, setup
constexpr size_t kIdHeaderBytes = 30;
constexpr int kMinBlockExponent = 6;   // block sizes 64 ...
constexpr int kMaxBlockExponent = 13;  // ... 8192

bool is_vorbis_header(const uint8_t* data, size_t size, uint8_t type) {
    return size >= 7 && data[0] == type && std::memcmp(data + 1, "vorbis", 6) == 0;
}

}  // namespace

bool check_vorbis_identification(const uint8_t* data, size_t size, int* rate, int* channels) {
    if (size < kIdHeaderBytes || !is_vorbis_header(data, size, 1)) return false;
    if (read_le32(data + 7) != 0) return false;  // only version 0 exists
    const int ch = data[11];
    const uint32_t r = read_le32(data + 12);
    const int small = data[28] & 0x0F, large = data[28] >> 4;
    if (ch < 1 || ch > kVorbisMaxChannels || r < kMinVorbisRate || r > kMaxVorbisRate) return false;
    if (small < kMinBlockExponent || large > kMaxBlockExponent || small > large) return false;
    if (!(data[29] & 1)) return false;  // framing bit
    if (rate) *rate = static_cast<int>(r);
    if (channels) *channels = ch;
    return true;
}

bool parse_vorbis_comments(const uint8_t* data, size_t size, std::string* vendor,
                           std::vector<std::string>* comments) {
    if (!is_vorbis_header(data, size, 3)) return false;
    size_t at = 7;
    auto read_string = [&](std::string* out) {
        if (size - at < 4) return false;
        const uint32_t len = read_le32(data + at);
        at += 4;
        if (len > size - at) return false;
        const size_t keep = len < kMaxVorbisCommentBytes ? len : kMaxVorbisCommentBytes;
        out->assign(reinterpret_cast<const char*>(data + at), keep);
        at += len;
        return true;
    };
    std::string v;
    if (!read_string(&v)) return false;
    if (size - at < 4) return false;
    const uint32_t count = read_le32(data + at);
    at += 4;
    // Each comment takes at least its length field: a count beyond that lies.
    if (count > (size - at) / 4) return false;
    std::vector<std::string> list;
    for (uint32_t i = 0; i < count; ++i) {
        std::string c;
        if (!read_string(&c)) return false;
        if (list.size() < kMaxVorbisComments) list.push_back(std::move(c));
    }
    if (vendor) *vendor = std::move(v);
    if (comments) *comments = std::move(list);
    return true;
}

// Our page and packet framing in front; the reference decoder gets whole
// packets of one logical stream whose headers passed our checks.
struct VorbisStream::Impl {
    OggPageReader reader;
    OggPacketAssembler assembler;
    std::deque<VorbisChange> changes;
    std::vector<uint8_t> held;  // a BOS page set aside until decode() returns
    std::deque<OggPacket> packets;  // audio packets of the current stream, not decoded yet

    bool have_serial = false;
    uint32_t serial = 0;
    int header_packets = 0;
    int64_t packet_number = 0;
    std::vector<std::string> comments;
    uint64_t stream_start = 0;

    vorbis_info info;
    vorbis_comment comment;
    bool headers_open = false;
    vorbis_dsp_state dsp;
    vorbis_block block;
    bool decoding = false;

    int rate = 0;
    int channels = 0;
    uint64_t frames_out = 0;
    bool failed = false;
    int foreign_bos = 0;
    int pages_before_stream = 0;

    ~Impl() { close(); }

    void close() {
        if (decoding) {
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
            decoding = false;
        }
        if (headers_open) {
            vorbis_comment_clear(&comment);
            vorbis_info_clear(&info);
            headers_open = false;
        }
        packets.clear();
    }

    void start_stream(uint32_t new_serial) {
        close();
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
        headers_open = true;
        have_serial = true;
        serial = new_serial;
        header_packets = 0;
        packet_number = 0;
        comments.clear();
        assembler.reset();
        stream_start = frames_out;
    }

    ogg_packet as_ogg(OggPacket& p) {
        ogg_packet op = {};
        op.packet = p.data.data();
        op.bytes = static_cast<long>(p.data.size());
        op.b_o_s = packet_number == 0;
        // Granule positions are the server's word: end trimming is not worth trusting it.
        op.granulepos = -1;
        op.packetno = packet_number++;
        return op;
    }

    // One of the three header packets; a stream whose headers fail is refused.
    void header(OggPacket& p) {
        const uint8_t* d = p.data.data();
        const size_t n = p.data.size();
        bool ok = n <= kMaxVorbisHeaderBytes;
        if (ok && header_packets == 0) ok = check_vorbis_identification(d, n, nullptr, nullptr);
        if (ok && header_packets == 1) ok = parse_vorbis_comments(d, n, nullptr, &comments);
        if (ok && header_packets == 2) ok = is_vorbis_header(d, n, 5);
        ogg_packet op = as_ogg(p);
        if (!ok || vorbis_synthesis_headerin(&info, &comment, &op) != 0) {
            failed = true;
            return;
        }
        if (++header_packets < kHeaderPackets) return;
        if (info.channels < 1 || info.channels > kVorbisMaxChannels ||
            vorbis_synthesis_init(&dsp, &info) != 0) {
            failed = true;
            return;
        }
        if (vorbis_block_init(&dsp, &block) != 0) {
            vorbis_dsp_clear(&dsp);
            failed = true;
            return;
        }
        decoding = true;
        rate = static_cast<int>(info.rate);
        channels = info.channels;
        VorbisChange change;
        change.at_frame = stream_start;
        change.sample_rate = rate;
        change.channels = channels;
        change.comments = comments;
        changes.push_back(std::move(change));
    }

    // Takes one page from the reader into the current stream. False when the
    // reader has no complete page, or when a new stream must wait until the
    // caller has taken what it was given (`held` keeps that page).
    bool take_page(bool may_switch) {
        OggPage page;
        if (!reader.next_page(&page)) return false;
        return use_page(page, may_switch);
    }

    bool use_page(const OggPage& page, bool may_switch) {
        if (page.bos()) {
            if (!is_vorbis_header(page.body, page.body_size, 1)) {
                if (!have_serial && ++foreign_bos > kMaxForeignBosPages) failed = true;
                return true;
            }
            if (!may_switch) {
                held.assign(page.data, page.data + page.size);
                return false;
            }
            start_stream(page.serial);
        }
        if (!have_serial) {
            // Without the header packets nothing can be decoded: a stream
            // that never starts one is not ours to wait for forever.
            if (++pages_before_stream > kMaxPagesBeforeStream) failed = true;
            return true;
        }
        if (page.serial != serial) return true;
        std::vector<OggPacket> list;
        assembler.add_page(page, &list);
        for (OggPacket& p : list) {
            if (failed) break;
            if (header_packets < kHeaderPackets)
                header(p);
            else
                packets.push_back(std::move(p));
        }
        return true;
    }

    bool use_held(bool may_switch) {
        if (held.empty() || !may_switch) return false;
        OggPageReader one;
        one.push(held.data(), held.size());
        held.clear();
        OggPage page;
        return one.next_page(&page) && use_page(page, true);
    }

    void decode_packet() {
        OggPacket p = std::move(packets.front());
        packets.pop_front();
        ogg_packet op = as_ogg(p);
        // A damaged packet is skipped; the next one decodes on its own.
        if (vorbis_synthesis(&block, &op) == 0) vorbis_synthesis_blockin(&dsp, &block);
    }
};

VorbisStream::VorbisStream() : impl_(new Impl) {}
VorbisStream::~VorbisStream() = default;

size_t VorbisStream::push(const uint8_t* data, size_t size) { return impl_->reader.push(data, size); }

size_t VorbisStream::decode(float* out, size_t max_frames) {
    Impl& s = *impl_;
    size_t written = 0;
    while (written < max_frames && !s.failed) {
        if (s.decoding) {
            float** pcm = nullptr;
            const int ready = vorbis_synthesis_pcmout(&s.dsp, &pcm);
            if (ready > 0) {
                size_t n = static_cast<size_t>(ready);
                if (n > max_frames - written) n = max_frames - written;
                float* dst = out + written * static_cast<size_t>(s.channels);
                for (size_t i = 0; i < n; ++i)
                    for (int c = 0; c < s.channels; ++c) *dst++ = pcm[c][i];
                vorbis_synthesis_read(&s.dsp, static_cast<int>(n));
                written += n;
                s.frames_out += n;
                continue;
            }
            if (!s.packets.empty()) {
                s.decode_packet();
                continue;
            }
        }
        // A new logical stream changes the format, so it starts in a call of its own.
        const bool may_switch = written == 0;
        if (!s.held.empty()) {
            if (!s.use_held(may_switch)) break;
            continue;
        }
        if (!s.take_page(may_switch)) break;
    }
    return written;
}

bool VorbisStream::take_change(VorbisChange* out) {
    if (impl_->changes.empty()) return false;
    *out = std::move(impl_->changes.front());
    impl_->changes.pop_front();
    return true;
}

bool VorbisStream::ready() const { return impl_->decoding; }
int VorbisStream::sample_rate() const { return impl_->rate; }
int VorbisStream::channels() const { return impl_->channels; }
bool VorbisStream::failed() const { return impl_->failed; }
uint64_t VorbisStream::frames_out() const { return impl_->frames_out; }

}  // namespace engine
