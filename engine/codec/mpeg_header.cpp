#include "engine/codec/mpeg_header.h"

#include <cstring>

namespace engine {
namespace {

// Bit rates in kbit/s by [row][index]; index 0 (free format) and 15 are invalid.
constexpr int kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // V1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // V1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // V1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // V2/2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // V2/2.5 II, III
};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000},  // V1
    {22050, 24000, 16000},  // V2
    {11025, 12000, 8000},   // V2.5
};
constexpr int kModeMono = 3;

}  // namespace

bool parse_mpeg_header(const uint8_t* p, MpegHeader* out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version_bits = (p[1] >> 3) & 3;
    const int layer_bits = (p[1] >> 1) & 3;
    const int bitrate_index = p[2] >> 4;
    const int rate_index = (p[2] >> 2) & 3;
    if (version_bits == 1 || layer_bits == 0 || bitrate_index == 0 || bitrate_index == 15 ||
        rate_index == 3 || (p[3] & 3) == 2)
        return false;

    MpegHeader h;
    h.version = version_bits == 3 ? MpegVersion::V1
                : version_bits == 2 ? MpegVersion::V2
                                    : MpegVersion::V25;
    h.layer = 4 - layer_bits;
    h.crc = (p[1] & 1) == 0;
    h.padding = (p[2] >> 1) & 1;
    h.channel_mode = p[3] >> 6;
    h.channels = h.channel_mode == kModeMono ? 1 : 2;
    const bool v1 = h.version == MpegVersion::V1;
    const int row = v1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.bitrate_kbps = kBitrates[row][bitrate_index];
    h.sample_rate = kSampleRates[v1 ? 0 : (h.version == MpegVersion::V2 ? 1 : 2)][rate_index];

    if (v1 && h.layer == 2) {
        // Combinations the standard does not allow for layer II.
        const int br = h.bitrate_kbps;
        const bool low = br == 32 || br == 48 || br == 56 || br == 80;
        const bool high = br == 224 || br == 256 || br == 320 || br == 384;
        if ((h.channels == 2 && low) || (h.channels == 1 && high)) return false;
    }

    const int bps = h.bitrate_kbps * 1000;
    const int pad = h.padding ? 1 : 0;
    if (h.layer == 1) {
        h.samples_per_frame = 384;
        h.frame_bytes = (12 * bps / h.sample_rate + pad) * 4;
    } else if (h.layer == 2 || v1) {
        h.samples_per_frame = 1152;
        h.frame_bytes = 144 * bps / h.sample_rate + pad;
    } else {
        h.samples_per_frame = 576;
        h.frame_bytes = 72 * bps / h.sample_rate + pad;
    }
    *out = h;
    return true;
}

bool mpeg_headers_consistent(const MpegHeader& a, const MpegHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sample_rate == b.sample_rate &&
           a.channels == b.channels;
}

MpegChain mpeg_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           MpegHeader* first) {
    size_t at = 0;
    MpegHeader h0;
    for (int i = 0; i < count; ++i) {
        if (avail - at < kMpegHeaderBytes) {
            if (at_end && at == avail && i > 0) break;  // the chain ends with the data
            return at_end ? MpegChain::No : MpegChain::NeedMore;
        }
        MpegHeader h;
        if (!parse_mpeg_header(p + at, &h)) return MpegChain::No;
        if (i == 0)
            h0 = h;
        else if (!mpeg_headers_consistent(h0, h))
            return MpegChain::No;
        if (avail - at < static_cast<size_t>(h.frame_bytes) && at_end) return MpegChain::No;
        at += static_cast<size_t>(h.frame_bytes);
        if (i + 1 < count && at > avail) return MpegChain::NeedMore;  // (at_end was handled above)
    }
    if (first) *first = h0;
    return MpegChain::Yes;
}

size_t id3v2_tag_size(const uint8_t* p, size_t avail) {
    if (avail < 10 || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF) return 0;
    size_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80) return 0;
        body = (body << 7) | p[i];
    }
    const bool footer = (p[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

MpegFramer::MpegFramer() : buf_(kMpegFramerCapacity) {}

size_t MpegFramer::push(const uint8_t* data, size_t size) {
    if (pos_ > 0 && size > buf_.size() - size_) compact();
    const size_t room = buf_.size() - size_;
    if (size > room) size = room;
    if (size) std::memcpy(&buf_[size_], data, size);
    size_ += size;
    return size;
}

void MpegFramer::compact() {
    std::memmove(buf_.data(), buf_.data() + pos_, size_ - pos_);
    size_ -= pos_;
    pos_ = 0;
}

void MpegFramer::skip(size_t n) {
    pos_ += n;
    skipped_ += n;
}

bool MpegFramer::try_lock() {
    for (;;) {
        const size_t avail = size_ - pos_;
        const uint8_t* p = buf_.data() + pos_;
        if (id3_left_ > 0) {
            const size_t n = id3_left_ < avail ? static_cast<size_t>(id3_left_) : avail;
            skip(n);
            id3_left_ -= n;
            if (id3_left_ > 0) return false;
            continue;
        }
        if (avail >= 3 && std::memcmp(p, "ID3", 3) == 0) {
            if (avail < 10 && !ended_) return false;
            const size_t tag = id3v2_tag_size(p, avail);
            if (tag > 0) {
                id3_left_ = tag;
                continue;
            }
        }
        if (avail < kMpegHeaderBytes) {
            if (ended_) skip(avail);
            return false;
        }
        // A frame must not need more room than the buffer has, so a chain
        // that cannot complete is treated as a mismatch, not as "need more".
        switch (mpeg_check_chain(p, avail, kMpegLockFrames, ended_, &lock_)) {
        case MpegChain::Yes:
            locked_ = true;
            return true;
        case MpegChain::NeedMore:
            if (size_ - pos_ < buf_.size() - kMpegHeaderBytes || pos_ > 0) return false;
            skip(1);
            break;
        case MpegChain::No:
            skip(1);
            break;
        }
    }
}

bool MpegFramer::next_frame(MpegFrame* out) {
    for (;;) {
        if (!locked_ && !try_lock()) return false;
        const size_t avail = size_ - pos_;
        const uint8_t* p = buf_.data() + pos_;
        MpegHeader h;
        if (avail < kMpegHeaderBytes) {
            if (ended_ && avail > 0) skip(avail);
            return false;
        }
        if (!parse_mpeg_header(p, &h) || !mpeg_headers_consistent(h, lock_)) {
            locked_ = false;  // a lost or damaged frame: find the stream again
            continue;
        }
        const size_t len = static_cast<size_t>(h.frame_bytes);
        if (avail < len + kMpegHeaderBytes) {
            if (!ended_) return false;
            if (avail < len) {
                skip(avail);  // a frame cut by the end of the stream
                return false;
            }
        } else {
            MpegHeader next;
            if (!parse_mpeg_header(p + len, &next)) {
                // This frame's length does not lead to the next header: part
                // of the stream is missing here, so its data is not a frame.
                locked_ = false;
                skip(1);
                continue;
            }
            // A header of another format ends this frame just as well; the
            // lock is then found again for the new format.
            if (!mpeg_headers_consistent(next, lock_)) locked_ = false;
        }
        out->data = p;
        out->size = len;
        out->header = h;
        out->format_changed = !have_format_ || h.sample_rate != format_.sample_rate ||
                              h.channels != format_.channels;
        format_ = h;
        have_format_ = true;
        pos_ += len;
        return true;
    }
}

}  // namespace engine
