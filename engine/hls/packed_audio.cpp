#include "engine/hls/packed_audio.h"

#include <algorithm>
#include <cstring>

#include "engine/codec/adts.h"
#include "engine/codec/mpeg_header.h"
#include "engine/hls/id3.h"

namespace engine::hls {

namespace {

constexpr char kId3Magic[] = "ID3";
constexpr size_t kId3MagicBytes = 3;

size_t header_bytes(AudioKind kind) {
    return kind == AudioKind::Adts ? kAdtsHeaderBytes : kMpegHeaderBytes;
}

// A frame header of `kind` at p: its length, samples and rate; 0 when none.
size_t parse_frame(AudioKind kind, const uint8_t* p, int* samples, int* rate) {
    if (kind == AudioKind::Adts) {
        AdtsHeader h;
        if (!parse_adts_header(p, &h)) return 0;
        *samples = kAacFrameSamples * h.blocks;
        *rate = h.sample_rate;
        return h.frame_bytes;
    }
    MpegHeader h;
    if (!parse_mpeg_header(p, &h)) return 0;
    *samples = h.samples_per_frame;
    *rate = h.sample_rate;
    return static_cast<size_t>(h.frame_bytes);
}

bool consistent(AudioKind kind, const uint8_t* a, const uint8_t* b) {
    if (kind == AudioKind::Adts) {
        AdtsHeader x, y;
        return parse_adts_header(a, &x) && parse_adts_header(b, &y) && adts_headers_consistent(x, y);
    }
    MpegHeader x, y;
    return parse_mpeg_header(a, &x) && parse_mpeg_header(b, &y) && mpeg_headers_consistent(x, y);
}

// Whether p[0..n) could be the start of an ID3 tag that has not all arrived.
bool id3_prefix(const uint8_t* p, size_t n) {
    return std::memcmp(p, kId3Magic, std::min(n, kId3MagicBytes)) == 0;
}

}  // namespace

void PackedAudioDemuxer::fail(DemuxStatus status) {
    if (status_ == DemuxStatus::Ok) status_ = status;
}

DemuxStatus PackedAudioDemuxer::push(const uint8_t* data, size_t size, SegmentOutput* out) {
    if (status_ != DemuxStatus::Ok) return status_;
    held_.insert(held_.end(), data, data + size);
    run(false, out);
    return status_;
}

DemuxStatus PackedAudioDemuxer::end(SegmentOutput* out) {
    if (status_ != DemuxStatus::Ok) return status_;
    run(true, out);
    flush(out);
    if (status_ == DemuxStatus::Ok && !started_) fail(DemuxStatus::NoAudio);
    return status_;
}

int64_t PackedAudioDemuxer::now() const {
    if (base_ == kNoTime || sample_rate_ == 0) return base_;
    const uint64_t ticks = samples_ * static_cast<uint64_t>(kHlsClockHz) / static_cast<uint64_t>(sample_rate_);
    return static_cast<int64_t>((static_cast<uint64_t>(base_) + ticks) % static_cast<uint64_t>(kPtsModulo));
}

void PackedAudioDemuxer::flush(SegmentOutput* out) {
    if (chunk_frames_ == 0) return;
    out->audio.push_back(std::move(chunk_));
    chunk_ = AudioChunk();
    chunk_frames_ = 0;
}

size_t PackedAudioDemuxer::frame_at(const uint8_t* p, size_t n, bool at_end, int* samples,
                                    int* rate, bool* wait) {
    if (started_) {
        const size_t hb = header_bytes(kind_);
        if (n < hb) {
            *wait = !at_end;
            return 0;
        }
        const size_t len = parse_frame(kind_, p, samples, rate);
        if (len == 0 || !consistent(kind_, first_, p)) return 0;
        if (len > n) {
            *wait = !at_end;  // at the end, a cut-off frame is skipped over
            return 0;
        }
        return len;
    }
    // Before the first frame a header is trusted only when what follows its
    // frame fits: another such header, an ID3 tag, or the end of the segment.
    for (AudioKind kind : {AudioKind::Adts, AudioKind::Mpeg}) {
        const size_t hb = header_bytes(kind);
        if (n < hb) {
            if (!at_end) *wait = true;
            continue;
        }
        const size_t len = parse_frame(kind, p, samples, rate);
        if (len == 0) continue;
        const uint8_t* next = p + std::min(len, n);
        const size_t left = len <= n ? n - len : 0;
        bool fits;
        if (len > n) {
            fits = false;
            if (!at_end) *wait = true;
        } else if (left == 0) {
            fits = at_end;
            if (!at_end) *wait = true;
        } else if (id3_prefix(next, left)) {
            fits = left >= kId3MagicBytes || at_end;
            if (!fits) *wait = true;
        } else if (left < hb) {
            fits = false;
            if (!at_end) *wait = true;
        } else {
            fits = consistent(kind, p, next);
        }
        if (!fits) continue;
        *wait = false;
        started_ = true;
        kind_ = kind;
        std::memcpy(first_, p, hb);
        return len;
    }
    return 0;
}

void PackedAudioDemuxer::run(bool at_end, SegmentOutput* out) {
    size_t at = 0;
    while (status_ == DemuxStatus::Ok && at < held_.size()) {
        const uint8_t* p = held_.data() + at;
        const size_t n = held_.size() - at;
        if (id3_prefix(p, n)) {
            if (n < kId3HeaderBytes && !at_end) break;
            Id3Tag tag;
            const Id3Status s = parse_id3(p, n, &tag);
            if (s == Id3Status::NeedMore && !at_end) break;
            if (s == Id3Status::TooLarge) return fail(DemuxStatus::TooLarge);
            if (s == Id3Status::Ok) {
                if (tag.timestamp != kNoTime) {
                    flush(out);
                    base_ = tag.timestamp;
                    samples_ = 0;
                }
                std::string text = id3_title(tag);
                if (!text.empty()) out->titles.push_back({now(), std::move(text)});
                at += tag.size;
                skipped_ = 0;
                continue;
            }
        }
        int samples = 0, rate = 0;
        bool wait = false;
        const size_t len = frame_at(p, n, at_end, &samples, &rate, &wait);
        if (wait) break;
        if (len == 0) {
            ++at;
            if (++skipped_ > kMaxPackedSkipBytes) fail(DemuxStatus::Malformed);
            continue;
        }
        if (chunk_frames_ == 0) {
            chunk_.kind = kind_;
            chunk_.time = now();
        }
        chunk_.bytes.insert(chunk_.bytes.end(), p, p + len);
        samples_ += static_cast<uint64_t>(samples);
        sample_rate_ = rate;
        if (++chunk_frames_ == kPackedChunkFrames) flush(out);
        at += len;
        skipped_ = 0;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(std::min(at, held_.size())));
}

}  // namespace engine::hls
