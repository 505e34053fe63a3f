#include "engine/codec/ogg_stream.h"

#include <algorithm>
#include <deque>

namespace engine {
namespace {

constexpr int kMaxForeignBosPages = 16;    // other codecs' streams before we give up
constexpr int kMaxPagesBeforeStream = 64;  // pages without a stream start (joined mid-stream)
constexpr size_t kMixFrames = 1024;        // frames mixed down at a time

// Each channel's share of the left and right side, before scaling.
struct Share {
    float left, right;
};
constexpr float kMinus3dB = 0.70710678f;
constexpr float kMinus6dB = 0.5f;
constexpr Share kFL{1, 0}, kFR{0, 1}, kC{kMinus3dB, kMinus3dB}, kSL{kMinus3dB, 0},
    kSR{0, kMinus3dB}, kRC{kMinus6dB, kMinus6dB}, kLFE{0, 0};
// By channel count, 3 to 8, in the Vorbis order.
constexpr Share kLayouts[][kOggMaxChannels] = {
    {kFL, kC, kFR},
    {kFL, kFR, kSL, kSR},
    {kFL, kC, kFR, kSL, kSR},
    {kFL, kC, kFR, kSL, kSR, kLFE},
    {kFL, kC, kFR, kSL, kSR, kRC, kLFE},
    {kFL, kC, kFR, kSL, kSR, kSL, kSR, kLFE},
};
constexpr int kFirstLayout = 3;

}  // namespace

void downmix_to_stereo(const float* in, size_t frames, int channels, float* out) {
    const Share* shares = kLayouts[channels - kFirstLayout];
    float left_sum = 0, right_sum = 0;
    for (int c = 0; c < channels; ++c) {
        left_sum += shares[c].left;
        right_sum += shares[c].right;
    }
    for (size_t i = 0; i < frames; ++i, in += channels) {
        float left = 0, right = 0;
        for (int c = 0; c < channels; ++c) {
            left += in[c] * shares[c].left;
            right += in[c] * shares[c].right;
        }
        *out++ = left / left_sum;
        *out++ = right / right_sum;
    }
}

struct OggStream::Impl {
    OggPageReader reader;
    OggPacketAssembler assembler;
    std::deque<OggChange> changes;
    std::vector<uint8_t> held;      // a BOS page set aside until decode() returns
    std::deque<OggPacket> packets;  // audio packets of the current stream, not decoded yet
    std::unique_ptr<OggCodec> codec;
    std::vector<float> mix;         // a codec's frames before the mix-down

    bool have_serial = false;
    uint32_t serial = 0;
    uint64_t stream_start = 0;
    int rate = 0;
    int channels = 0;
    uint64_t frames_out = 0;
    bool failed = false;
    int foreign_bos = 0;
    int pages_before_stream = 0;

    void start_stream(uint32_t new_serial, std::unique_ptr<OggCodec> new_codec) {
        packets.clear();
        codec = std::move(new_codec);
        have_serial = true;
        serial = new_serial;
        assembler.reset();
        stream_start = frames_out;
    }

    // One of the stream's header packets; a stream whose headers fail is refused.
    void header(const OggPacket& p) {
        if (p.data.size() > kMaxOggHeaderBytes || !codec->header(p)) {
            failed = true;
            return;
        }
        if (!codec->ready()) return;
        const int ch = codec->channels();
        if (ch < 1 || ch > kOggMaxChannels) {
            failed = true;
            return;
        }
        rate = codec->sample_rate();
        channels = std::min(ch, kOggOutChannels);
        if (ch > kOggOutChannels) mix.resize(kMixFrames * static_cast<size_t>(ch));
        OggChange change;
        change.at_frame = stream_start;
        change.sample_rate = rate;
        change.channels = channels;
        change.comments = codec->comments();
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
            std::unique_ptr<OggCodec> next = make_ogg_codec(page.body, page.body_size);
            if (!next) {
                if (!have_serial && ++foreign_bos > kMaxForeignBosPages) failed = true;
                return true;
            }
            if (!may_switch) {
                held.assign(page.data, page.data + page.size);
                return false;
            }
            start_stream(page.serial, std::move(next));
        }
        if (!have_serial) {
            // Without the header packets nothing can be decoded: a stream
            // that never starts one is not ours to wait for forever. Every
            // stream of a group starts before the group's first page of
            // data, so after other codecs' starts that page ends the wait.
            if (++pages_before_stream > kMaxPagesBeforeStream || (foreign_bos > 0 && !page.bos()))
                failed = true;
            return true;
        }
        if (page.serial != serial) return true;
        std::vector<OggPacket> list;
        assembler.add_page(page, &list);
        for (OggPacket& p : list) {
            if (failed) break;
            if (!codec->ready())
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

    // Decoded frames of the current stream, at most kOggOutChannels each.
    size_t read(float* out, size_t max_frames) {
        const int ch = codec->channels();
        if (ch <= kOggOutChannels) return codec->read(out, max_frames);
        const size_t n = codec->read(mix.data(), std::min(max_frames, kMixFrames));
        downmix_to_stereo(mix.data(), n, ch, out);
        return n;
    }
};

OggStream::OggStream() : impl_(new Impl) {}
OggStream::~OggStream() = default;

size_t OggStream::push(const uint8_t* data, size_t size) { return impl_->reader.push(data, size); }

size_t OggStream::decode(float* out, size_t max_frames) {
    Impl& s = *impl_;
    size_t written = 0;
    while (written < max_frames && !s.failed) {
        if (s.codec && s.codec->ready()) {
            const size_t n = s.read(out + written * static_cast<size_t>(s.channels), max_frames - written);
            if (n > 0) {
                written += n;
                s.frames_out += n;
                continue;
            }
            if (!s.packets.empty()) {
                s.codec->decode(s.packets.front());
                s.packets.pop_front();
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

bool OggStream::take_change(OggChange* out) {
    if (impl_->changes.empty()) return false;
    *out = std::move(impl_->changes.front());
    impl_->changes.pop_front();
    return true;
}

bool OggStream::ready() const { return impl_->codec && impl_->codec->ready(); }
int OggStream::sample_rate() const { return impl_->rate; }
int OggStream::channels() const { return impl_->channels; }
bool OggStream::failed() const { return impl_->failed; }
uint64_t OggStream::frames_out() const { return impl_->frames_out; }

}  // namespace engine
