#include "engine/codec/vorbis_stream.h"

#include <cstring>
#include <deque>

// stb_vorbis is compiled here and only here. It is third-party code: its own
// warnings are not ours to fix.
#define STB_VORBIS_NO_STDIO
#define STB_VORBIS_NO_PULLDATA_API
#if defined(__GNUC__)
// Reported at the end of the file, after a pop, so it stays off for the file.
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic push
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#endif
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-variable"
#pragma GCC diagnostic ignored "-Wunused-value"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wcast-function-type"
#endif
#include "stb_vorbis.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace engine {
namespace {

constexpr size_t kMaxDecoderInput = 256 * 1024;  // pages stb_vorbis has not taken yet
constexpr int kMaxForeignBosPages = 16;           // other codecs' streams before we give up
constexpr int kMaxPagesBeforeStream = 64;         // pages without a Vorbis start (joined mid-stream)

bool is_vorbis_header(const std::vector<uint8_t>& packet, uint8_t type) {
    return packet.size() >= 7 && packet[0] == type && std::memcmp(&packet[1], "vorbis", 6) == 0;
}

}  // namespace

bool parse_vorbis_comments(const uint8_t* data, size_t size, std::string* vendor,
                           std::vector<std::string>* comments) {
    if (size < 7 || data[0] != 3 || std::memcmp(data + 1, "vorbis", 6) != 0) return false;
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

struct VorbisStream::Impl {
    OggPageReader reader;
    OggPacketAssembler assembler;
    std::deque<VorbisChange> changes;

    bool have_serial = false;
    uint32_t serial = 0;
    int header_packets = 0;  // of the current stream, as seen by the assembler
    std::vector<std::string> comments;
    uint64_t stream_start = 0;

    stb_vorbis* decoder = nullptr;
    std::vector<uint8_t> input;  // page bytes of the current stream not yet taken by stb
    size_t input_pos = 0;

    float** pcm = nullptr;  // last decoded frame (owned by stb) and how far it was read
    int pcm_channels = 0;
    int pcm_samples = 0;
    int pcm_pos = 0;

    int rate = 0;
    int channels = 0;
    uint64_t frames_out = 0;
    bool failed = false;
    int foreign_bos = 0;
    int pages_before_stream = 0;

    ~Impl() { close(); }

    void close() {
        if (decoder) stb_vorbis_close(decoder);
        decoder = nullptr;
        pcm = nullptr;
        pcm_samples = pcm_pos = 0;
    }

    void start_stream(uint32_t new_serial) {
        close();
        have_serial = true;
        serial = new_serial;
        header_packets = 0;
        comments.clear();
        assembler.reset();
        input.clear();
        input_pos = 0;
        stream_start = frames_out;
    }

    void add_input(const OggPage& page) {
        if (input_pos > 0 && input_pos * 2 >= input.size()) {
            input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(input_pos));
            input_pos = 0;
        }
        if (input.size() - input_pos + page.size > kMaxDecoderInput) {
            // stb_vorbis is stuck on this data: start over from the next page.
            input.clear();
            input_pos = 0;
            if (decoder) stb_vorbis_flush_pushdata(decoder);
        }
        input.insert(input.end(), page.data, page.data + page.size);
    }

    // Reads the header packets for the comments (the audio packets are left
    // to stb_vorbis, which reads the same pages).
    void scan_headers(const OggPage& page) {
        if (header_packets >= 3) return;
        std::vector<OggPacket> packets;
        assembler.add_page(page, &packets);
        for (const OggPacket& p : packets) {
            if (header_packets == 1 && is_vorbis_header(p.data, 3)) {
                std::string vendor;
                if (!parse_vorbis_comments(p.data.data(), p.data.size(), &vendor, &comments))
                    comments.clear();
            }
            if (++header_packets >= 3) break;
        }
    }

    void try_open() {
        int used = 0, error = 0;
        const size_t avail = input.size() - input_pos;
        stb_vorbis* v = stb_vorbis_open_pushdata(input.data() + input_pos, static_cast<int>(avail),
                                                 &used, &error, nullptr);
        if (!v) {
            if (error != VORBIS_need_more_data) failed = true;
            return;
        }
        const stb_vorbis_info info = stb_vorbis_get_info(v);
        if (info.channels < 1 || info.channels > kVorbisMaxChannels) {
            stb_vorbis_close(v);
            failed = true;
            return;
        }
        decoder = v;
        input_pos += static_cast<size_t>(used);
        rate = static_cast<int>(info.sample_rate);
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

    std::vector<uint8_t> held;  // a BOS page set aside until decode() returns

    bool use_page(const OggPage& page, bool may_switch) {
        if (page.bos()) {
            const bool vorbis = page.body_size >= 7 && page.body[0] == 1 &&
                                std::memcmp(page.body + 1, "vorbis", 6) == 0;
            if (!vorbis) {
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
        scan_headers(page);
        add_input(page);
        if (!decoder) try_open();
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

    // Decodes the next frame from the input; false if stb needs more.
    bool decode_frame() {
        while (decoder && input.size() > input_pos) {
            int ch = 0, samples = 0;
            float** out = nullptr;
            const int used = stb_vorbis_decode_frame_pushdata(
                decoder, input.data() + input_pos, static_cast<int>(input.size() - input_pos),
                &ch, &out, &samples);
            if (used <= 0) return false;
            input_pos += static_cast<size_t>(used);
            if (samples > 0 && ch == channels) {
                pcm = out;
                pcm_channels = ch;
                pcm_samples = samples;
                pcm_pos = 0;
                return true;
            }
        }
        return false;
    }
};

VorbisStream::VorbisStream() : impl_(new Impl) {}
VorbisStream::~VorbisStream() = default;

size_t VorbisStream::push(const uint8_t* data, size_t size) { return impl_->reader.push(data, size); }

size_t VorbisStream::decode(float* out, size_t max_frames) {
    Impl& s = *impl_;
    size_t written = 0;
    while (written < max_frames && !s.failed) {
        if (s.pcm && s.pcm_pos < s.pcm_samples) {
            size_t n = static_cast<size_t>(s.pcm_samples - s.pcm_pos);
            if (n > max_frames - written) n = max_frames - written;
            float* dst = out + written * static_cast<size_t>(s.pcm_channels);
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < s.pcm_channels; ++c) *dst++ = s.pcm[c][s.pcm_pos + i];
            s.pcm_pos += static_cast<int>(n);
            written += n;
            s.frames_out += n;
            continue;
        }
        if (s.decode_frame()) continue;
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

bool VorbisStream::ready() const { return impl_->decoder != nullptr; }
int VorbisStream::sample_rate() const { return impl_->rate; }
int VorbisStream::channels() const { return impl_->channels; }
bool VorbisStream::failed() const { return impl_->failed; }
uint64_t VorbisStream::frames_out() const { return impl_->frames_out; }

}  // namespace engine
