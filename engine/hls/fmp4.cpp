#include "engine/hls/fmp4.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/codec/adts.h"
#include "engine/codec/mpeg_header.h"
#include "engine/hls/id3.h"

namespace engine::hls {

namespace {

constexpr size_t kBoxHeaderBytes = 8;
constexpr size_t kLargeSizeBytes = 8;
constexpr size_t kUuidBytes = 16;
constexpr size_t kFullBoxBytes = 4;  // version and flags
constexpr uint64_t kToEnd = std::numeric_limits<uint64_t>::max();

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t{static_cast<uint8_t>(s[0])} << 24 | uint32_t{static_cast<uint8_t>(s[1])} << 16 |
           uint32_t{static_cast<uint8_t>(s[2])} << 8 | uint32_t{static_cast<uint8_t>(s[3])};
}

uint32_t be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint64_t be64(const uint8_t* p) { return uint64_t{be32(p)} << 32 | be32(p + 4); }

// An ISO BMFF box inside a parent's bytes.
struct Box {
    uint32_t type = 0;
    const uint8_t* body = nullptr;
    size_t size = 0;  // of the body
};

// The header of a box at p (n bytes there): its header length and its whole
// size (kToEnd for size 0, "to the end of the file"). 0 when the bytes do
// not yet hold the header, or it is broken (*bad).
size_t box_header(const uint8_t* p, size_t n, uint32_t* type, uint64_t* size, bool* bad) {
    *bad = false;
    if (n < kBoxHeaderBytes) return 0;
    const uint32_t size32 = be32(p);
    *type = be32(p + 4);
    size_t header = kBoxHeaderBytes;
    if (size32 == 1) {
        if (n < kBoxHeaderBytes + kLargeSizeBytes) return 0;
        *size = be64(p + kBoxHeaderBytes);
        header += kLargeSizeBytes;
    } else {
        *size = size32 == 0 ? kToEnd : size32;
    }
    if (*type == fourcc("uuid")) {
        if (n < header + kUuidBytes) return 0;
        header += kUuidBytes;
    }
    if (*size < header) {
        *bad = true;
        return 0;
    }
    return header;
}

// Walks the boxes of one container; at most kMaxBoxesPerLevel of them.
class BoxList {
public:
    BoxList(const uint8_t* p, size_t n) : p_(p), n_(n) {}

    bool next(Box* out) {
        if (at_ >= n_ || bad_) return false;
        if (++count_ > kMaxBoxesPerLevel) {
            bad_ = true;
            return false;
        }
        uint32_t type = 0;
        uint64_t size = 0;
        bool broken = false;
        const size_t header = box_header(p_ + at_, n_ - at_, &type, &size, &broken);
        if (header == 0) {
            bad_ = true;
            return false;
        }
        if (size == kToEnd) size = n_ - at_;
        if (size > n_ - at_) {
            bad_ = true;
            return false;
        }
        out->type = type;
        out->body = p_ + at_ + header;
        out->size = static_cast<size_t>(size) - header;
        at_ += static_cast<size_t>(size);
        return true;
    }
    bool bad() const { return bad_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t at_ = 0;
    size_t count_ = 0;
    bool bad_ = false;
};

bool find_child(const uint8_t* p, size_t n, uint32_t type, Box* out) {
    BoxList list(p, n);
    Box b;
    while (list.next(&b))
        if (b.type == type) {
            *out = b;
            return true;
        }
    return false;
}

// Reads big-endian bit fields, never past the end.
class BitReader {
public:
    BitReader(const uint8_t* p, size_t n) : p_(p), bits_(n * 8) {}
    uint32_t get(int count) {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) {
            v <<= 1;
            if (at_ < bits_) v |= (p_[at_ / 8] >> (7 - at_ % 8)) & 1;
            else overrun_ = true;
            ++at_;
        }
        return v;
    }
    size_t left() const { return at_ < bits_ ? bits_ - at_ : 0; }
    bool overrun() const { return overrun_; }

private:
    const uint8_t* p_;
    size_t bits_;
    size_t at_ = 0;
    bool overrun_ = false;
};

constexpr int kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                              22050, 16000, 12000, 11025, 8000,  7350};
constexpr int kRateCount = 13;
constexpr uint32_t kExplicitRate = 15;
constexpr uint32_t kEscapeObjectType = 31;
constexpr int kMaxAdtsObjectType = 4;  // ADTS's profile field: Main, LC, SSR, LTP
constexpr int kMaxChannelConfig = 7;
constexpr uint32_t kSyncExtensionSbr = 0x2B7;
constexpr uint32_t kSyncExtensionPs = 0x548;

uint32_t object_type(BitReader& r) {
    const uint32_t t = r.get(5);
    return t == kEscapeObjectType ? 32 + r.get(6) : t;
}

// A rate index, or -1 for an explicit rate outside the table.
int rate_index(BitReader& r) {
    const uint32_t i = r.get(4);
    if (i != kExplicitRate) return i < static_cast<uint32_t>(kRateCount) ? static_cast<int>(i) : -1;
    const uint32_t hz = r.get(24);
    for (int k = 0; k < kRateCount; ++k)
        if (static_cast<uint32_t>(kAdtsRates[k]) == hz) return k;
    return -1;
}

// ES descriptors: a tag byte and a length of up to four 7-bit groups.
bool descriptor(const uint8_t* p, size_t n, size_t* at, uint8_t* tag, size_t* len) {
    if (*at >= n) return false;
    *tag = p[(*at)++];
    size_t v = 0;
    for (int i = 0; i < 4; ++i) {
        if (*at >= n) return false;
        const uint8_t b = p[(*at)++];
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    if (v > n - *at) return false;
    *len = v;
    return true;
}

constexpr uint8_t kEsDescriptor = 0x03;
constexpr uint8_t kDecoderConfigDescriptor = 0x04;
constexpr uint8_t kDecoderSpecificInfo = 0x05;
constexpr size_t kEsHeaderBytes = 3;          // ES_ID and flags
constexpr size_t kDecoderConfigBytes = 13;    // object type ... average bit rate
constexpr uint8_t kOtiMpeg4Audio = 0x40;
constexpr uint8_t kOtiMpeg2AacMain = 0x66;
constexpr uint8_t kOtiMpeg2AacSsr = 0x68;
constexpr uint8_t kOtiMpeg2Audio = 0x69;
constexpr uint8_t kOtiMpeg1Audio = 0x6B;

// The esds body after its version and flags: the object type and the
// decoder specific info.
bool read_esds(const uint8_t* p, size_t n, uint8_t* oti, std::vector<uint8_t>* dsi) {
    size_t at = 0, len = 0;
    uint8_t tag = 0;
    if (!descriptor(p, n, &at, &tag, &len) || tag != kEsDescriptor) return false;
    const size_t es_end = at + len;
    if (len < kEsHeaderBytes) return false;
    const uint8_t flags = p[at + 2];
    at += kEsHeaderBytes;
    if (flags & 0x80) at += 2;                                  // depends on ES_ID
    if ((flags & 0x40) && at < es_end) at += 1 + size_t{p[at]};  // URL
    if (flags & 0x20) at += 2;                                  // OCR ES_ID
    if (at > es_end) return false;
    if (!descriptor(p, es_end, &at, &tag, &len) || tag != kDecoderConfigDescriptor) return false;
    if (len < kDecoderConfigBytes) return false;
    const size_t config_end = at + len;
    *oti = p[at];
    at += kDecoderConfigBytes;
    dsi->clear();
    while (at < config_end) {
        if (!descriptor(p, config_end, &at, &tag, &len)) break;
        if (tag == kDecoderSpecificInfo) {
            dsi->assign(p + at, p + at + len);
            break;
        }
        at += len;
    }
    return true;
}

constexpr size_t kSampleEntryBytes = 28;  // SampleEntry and AudioSampleEntry fields
constexpr size_t kSoundVersionAt = 8;
constexpr size_t kSoundV1Extra = 16;      // QuickTime sound description version 1
constexpr size_t kSoundV2Extra = 36;      // and version 2

// The first sample entry of an audio stsd.
DemuxStatus read_sample_entry(const uint8_t* stsd, size_t n, Fmp4Init* out) {
    if (n < kFullBoxBytes + 4) return DemuxStatus::Malformed;
    Box entry;
    BoxList entries(stsd + kFullBoxBytes + 4, n - kFullBoxBytes - 4);
    if (!entries.next(&entry)) return DemuxStatus::Malformed;
    if (entry.type == fourcc(".mp3")) {
        out->kind = AudioKind::Mpeg;
        return DemuxStatus::Ok;
    }
    if (entry.type != fourcc("mp4a")) return DemuxStatus::Unsupported;  // enca, Opus, ac-3, ...
    if (entry.size < kSampleEntryBytes) return DemuxStatus::Malformed;
    size_t skip = kSampleEntryBytes;
    const uint32_t version = be16(entry.body + kSoundVersionAt);
    if (version == 1) skip += kSoundV1Extra;
    if (version == 2) skip += kSoundV2Extra;
    if (skip > entry.size) return DemuxStatus::Malformed;
    const uint8_t* kids = entry.body + skip;
    const size_t kids_size = entry.size - skip;
    Box esds, wave;
    // QuickTime files keep the esds inside a 'wave' box.
    if (!find_child(kids, kids_size, fourcc("esds"), &esds) &&
        !(find_child(kids, kids_size, fourcc("wave"), &wave) &&
          find_child(wave.body, wave.size, fourcc("esds"), &esds)))
        return DemuxStatus::Malformed;
    if (esds.size < kFullBoxBytes) return DemuxStatus::Malformed;
    uint8_t oti = 0;
    std::vector<uint8_t> dsi;
    if (!read_esds(esds.body + kFullBoxBytes, esds.size - kFullBoxBytes, &oti, &dsi))
        return DemuxStatus::Malformed;
    if (oti == kOtiMpeg1Audio || oti == kOtiMpeg2Audio) {
        out->kind = AudioKind::Mpeg;
        return DemuxStatus::Ok;
    }
    if (oti != kOtiMpeg4Audio && (oti < kOtiMpeg2AacMain || oti > kOtiMpeg2AacSsr))
        return DemuxStatus::Unsupported;
    if (!parse_audio_specific_config(dsi.data(), dsi.size(), &out->aac))
        return DemuxStatus::Unsupported;
    out->kind = AudioKind::Adts;
    out->audio_specific_config = std::move(dsi);
    return DemuxStatus::Ok;
}

// tkhd, mdhd: the field after the times, whose width the version sets.
bool versioned_field(const Box& b, size_t v0_at, size_t v1_at, uint32_t* out) {
    if (b.size < kFullBoxBytes) return false;
    const size_t at = b.body[0] == 1 ? v1_at : v0_at;
    if (b.size < at + 4) return false;
    *out = be32(b.body + at);
    return true;
}

constexpr size_t kTkhdTrackIdV0 = 12, kTkhdTrackIdV1 = 20;
constexpr size_t kMdhdTimescaleV0 = 12, kMdhdTimescaleV1 = 20;
constexpr size_t kHdlrTypeAt = 8;

DemuxStatus read_trak(const Box& trak, Fmp4Init* out) {
    Box tkhd, mdia, mdhd, hdlr, minf, stbl, stsd;
    if (!find_child(trak.body, trak.size, fourcc("mdia"), &mdia) ||
        !find_child(mdia.body, mdia.size, fourcc("hdlr"), &hdlr) || hdlr.size < kHdlrTypeAt + 4)
        return DemuxStatus::Malformed;
    if (be32(hdlr.body + kHdlrTypeAt) != fourcc("soun")) return DemuxStatus::NoAudio;
    if (!find_child(trak.body, trak.size, fourcc("tkhd"), &tkhd) ||
        !versioned_field(tkhd, kTkhdTrackIdV0, kTkhdTrackIdV1, &out->track_id) ||
        !find_child(mdia.body, mdia.size, fourcc("mdhd"), &mdhd) ||
        !versioned_field(mdhd, kMdhdTimescaleV0, kMdhdTimescaleV1, &out->timescale) ||
        out->timescale == 0 || !find_child(mdia.body, mdia.size, fourcc("minf"), &minf) ||
        !find_child(minf.body, minf.size, fourcc("stbl"), &stbl) ||
        !find_child(stbl.body, stbl.size, fourcc("stsd"), &stsd))
        return DemuxStatus::Malformed;
    return read_sample_entry(stsd.body, stsd.size, out);
}

constexpr size_t kTrexBytes = kFullBoxBytes + 20;

DemuxStatus read_moov(const uint8_t* p, size_t n, Fmp4Init* out) {
    DemuxStatus best = DemuxStatus::NoAudio;
    bool found = false;
    BoxList kids(p, n);
    Box b;
    while (!found && kids.next(&b)) {
        if (b.type != fourcc("trak")) continue;
        Fmp4Init init;
        const DemuxStatus s = read_trak(b, &init);
        if (s == DemuxStatus::Ok) {
            *out = init;
            found = true;
        } else if (s != DemuxStatus::NoAudio && best == DemuxStatus::NoAudio) {
            best = s;  // an audio track we cannot read: say why if no other is found
        }
    }
    if (kids.bad()) return DemuxStatus::Malformed;
    if (!found) return best;
    Box mvex;
    if (find_child(p, n, fourcc("mvex"), &mvex)) {
        BoxList list(mvex.body, mvex.size);
        Box trex;
        while (list.next(&trex)) {
            if (trex.type != fourcc("trex") || trex.size < kTrexBytes) continue;
            if (be32(trex.body + kFullBoxBytes) != out->track_id) continue;
            out->default_duration = be32(trex.body + kFullBoxBytes + 8);
            out->default_size = be32(trex.body + kFullBoxBytes + 12);
        }
    }
    return DemuxStatus::Ok;
}

// tfhd flags
constexpr uint32_t kBaseDataOffset = 0x000001;
constexpr uint32_t kSampleDescriptionIndex = 0x000002;
constexpr uint32_t kDefaultDuration = 0x000008;
constexpr uint32_t kDefaultSize = 0x000010;
constexpr uint32_t kDefaultFlags = 0x000020;
constexpr uint32_t kDefaultBaseIsMoof = 0x020000;
// trun flags
constexpr uint32_t kDataOffset = 0x000001;
constexpr uint32_t kFirstSampleFlags = 0x000004;
constexpr uint32_t kSampleDuration = 0x000100;
constexpr uint32_t kSampleSize = 0x000200;
constexpr uint32_t kSampleFlags = 0x000400;
constexpr uint32_t kSampleCompositionOffset = 0x000800;

uint32_t box_flags(const Box& b) { return be32(b.body) & 0xFFFFFF; }

const char* const kId3Schemes[] = {"https://aomedia.org/emsg/ID3",
                                   "https://developer.apple.com/streaming/emsg-id3"};

// A NUL-terminated string at p[*at..n).
bool cstring(const uint8_t* p, size_t n, size_t* at, std::string* out) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p + *at, 0, n - *at));
    if (!end) return false;
    out->assign(reinterpret_cast<const char*>(p + *at), static_cast<size_t>(end - (p + *at)));
    *at = static_cast<size_t>(end - p) + 1;
    return true;
}

int64_t scale_to_90k(uint64_t t, uint32_t timescale) {
    const uint64_t whole = t / timescale, part = t % timescale;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / kHlsClockHz;
    if (whole >= limit) return kNoTime;
    return static_cast<int64_t>(whole * kHlsClockHz + part * kHlsClockHz / timescale);
}

}  // namespace

bool parse_audio_specific_config(const uint8_t* data, size_t size, AacConfig* out) {
    if (!data || size == 0) return false;
    BitReader r(data, size);
    AacConfig c;
    uint32_t type = object_type(r);
    c.rate_index = rate_index(r);
    c.channel_config = static_cast<int>(r.get(4));
    if (type == kAacObjectSbr || type == kAacObjectPs) {
        c.sbr = true;
        c.ps = type == kAacObjectPs;
        if (rate_index(r) < 0) return false;  // the extension rate: the decoder finds it
        type = object_type(r);
    }
    if (r.overrun() || c.rate_index < 0) return false;
    if (type < 1 || type > static_cast<uint32_t>(kMaxAdtsObjectType)) return false;
    if (c.channel_config < 1 || c.channel_config > kMaxChannelConfig) return false;
    // GASpecificConfig: 960-sample frames are something ADTS cannot say.
    if (r.get(1) != 0) return false;
    if (r.get(1)) r.get(14);  // core coder delay
    r.get(1);                 // extension flag (for the error resilient types only)
    if (!c.sbr && r.left() >= 16 && r.get(11) == kSyncExtensionSbr) {
        if (object_type(r) == static_cast<uint32_t>(kAacObjectSbr) && r.get(1)) {
            rate_index(r);  // the extension rate: the decoder finds it
            c.sbr = true;
            if (r.left() >= 12 && r.get(11) == kSyncExtensionPs) c.ps = r.get(1) != 0;
        }
    }
    if (r.overrun()) return false;
    c.object_type = static_cast<int>(type);
    c.sample_rate = kAdtsRates[c.rate_index];
    *out = c;
    return true;
}

bool make_adts_header(const AacConfig& c, size_t payload_bytes, uint8_t out[7]) {
    const size_t frame = payload_bytes + kAdtsHeaderBytes;
    if (frame > kAdtsMaxFrameBytes || c.object_type < 1 || c.object_type > kMaxAdtsObjectType)
        return false;
    constexpr uint32_t kFullBuffer = 0x7FF;  // variable bit rate
    const uint32_t profile = static_cast<uint32_t>(c.object_type - 1);
    const uint32_t rate = static_cast<uint32_t>(c.rate_index);
    const uint32_t ch = static_cast<uint32_t>(c.channel_config);
    out[0] = 0xFF;
    out[1] = 0xF1;  // MPEG-4, layer 0, no CRC
    out[2] = static_cast<uint8_t>(profile << 6 | rate << 2 | ch >> 2);
    out[3] = static_cast<uint8_t>((ch & 3) << 6 | frame >> 11);
    out[4] = static_cast<uint8_t>(frame >> 3);
    out[5] = static_cast<uint8_t>((frame & 7) << 5 | kFullBuffer >> 6);
    out[6] = static_cast<uint8_t>((kFullBuffer & 0x3F) << 2);  // one raw data block
    return true;
}

DemuxStatus parse_fmp4_init(const uint8_t* data, size_t size, Fmp4Init* out) {
    if (!data) return DemuxStatus::Malformed;
    if (size > kMaxInitBytes) return DemuxStatus::TooLarge;
    BoxList top(data, size);
    Box b;
    while (top.next(&b))
        if (b.type == fourcc("moov")) return read_moov(b.body, b.size, out);
    return DemuxStatus::Malformed;
}

void Fmp4Demuxer::fail(DemuxStatus status) {
    if (status_ == DemuxStatus::Ok) status_ = status;
}

int64_t Fmp4Demuxer::to_90k(uint64_t t) const { return scale_to_90k(t, init_.timescale); }

DemuxStatus Fmp4Demuxer::push(const uint8_t* data, size_t size, SegmentOutput* out) {
    while (size > 0 && status_ == DemuxStatus::Ok) {
        if (skip_ > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(skip_, size));
            if (skip_ != kToEnd) skip_ -= n;
            consumed_ += n;
            data += n;
            size -= n;
            continue;
        }
        size_t want;
        if (box_header_ == 0) {
            want = kBoxHeaderBytes + kLargeSizeBytes + kUuidBytes - held_.size();
        } else {
            const uint64_t left = box_size_ == kToEnd ? kToEnd : box_size_ - held_.size();
            want = static_cast<size_t>(std::min<uint64_t>(left, size));
        }
        const size_t n = std::min(want, size);
        if (held_.empty()) box_at_ = consumed_;
        held_.insert(held_.end(), data, data + n);
        consumed_ += n;
        data += n;
        size -= n;
        if (box_header_ == 0) take_header(out);
        else if (box_size_ != kToEnd && held_.size() == box_size_) box(out);
        else if (held_.size() > kMaxMdatBytes) fail(DemuxStatus::TooLarge);
    }
    return status_;
}

// Reads the header of the box in held_ once it is there: gathers the box,
// or passes over it. Bytes taken beyond the header go back to the count.
void Fmp4Demuxer::take_header(SegmentOutput* out) {
    bool bad = false;
    uint32_t type = 0;
    uint64_t size = 0;
    const size_t header = box_header(held_.data(), held_.size(), &type, &size, &bad);
    if (bad) return fail(DemuxStatus::Malformed);
    if (header == 0) return;  // more bytes needed
    uint64_t bound = 0;
    if (type == fourcc("moov")) bound = kMaxInitBytes;
    else if (type == fourcc("moof")) bound = kMaxMoofBytes;
    else if (type == fourcc("mdat")) bound = kMaxMdatBytes;
    else if (type == fourcc("emsg")) bound = kMaxEmsgBytes;
    if (bound == 0) {
        // Not ours to read: skip what is left of it.
        if (size == kToEnd) {
            skip_ = kToEnd;
        } else if (size >= held_.size()) {
            skip_ = size - held_.size();
        } else {
            // The box was shorter than the bytes taken: the rest starts the next one.
            std::vector<uint8_t> rest(held_.begin() + static_cast<std::ptrdiff_t>(size), held_.end());
            held_.clear();
            consumed_ -= rest.size();
            push(rest.data(), rest.size(), out);
            return;
        }
        held_.clear();
        return;
    }
    if (size != kToEnd && size > bound) return fail(DemuxStatus::TooLarge);
    if (size == kToEnd && type != fourcc("mdat")) return fail(DemuxStatus::TooLarge);
    box_type_ = type;
    box_header_ = header;
    box_size_ = size;
    if (size != kToEnd && held_.size() >= size) {
        std::vector<uint8_t> rest(held_.begin() + static_cast<std::ptrdiff_t>(size), held_.end());
        held_.resize(static_cast<size_t>(size));
        consumed_ -= rest.size();
        box(out);
        push(rest.data(), rest.size(), out);
    }
}

void Fmp4Demuxer::box(SegmentOutput* out) {
    const uint8_t* body = held_.data() + box_header_;
    const size_t size = held_.size() - box_header_;
    if (box_type_ == fourcc("moov")) {
        Fmp4Init init;
        const DemuxStatus s = read_moov(body, size, &init);
        if (s != DemuxStatus::Ok) {
            fail(s);
        } else {
            init_ = init;
            have_init_ = true;
            segment_at_ = box_at_ + held_.size();
        }
    } else if (box_type_ == fourcc("moof")) {
        if (!have_init_) fail(DemuxStatus::Malformed);  // fragments with nothing to say what they hold
        else moof(body, size, out);
    } else if (box_type_ == fourcc("mdat")) {
        mdat(body, size, box_at_ + box_header_, out);
    } else if (box_type_ == fourcc("emsg")) {
        emsg(body, size, out);
    }
    held_.clear();
    box_header_ = 0;
    box_size_ = 0;
}

void Fmp4Demuxer::moof(const uint8_t* body, size_t size, SegmentOutput* out) {
    samples_.clear();
    fragment_time_ = next_time_;
    const uint64_t moof_at = box_at_;
    uint64_t previous_end = moof_at;  // where the last track fragment's data ended
    uint64_t total = 0;               // samples of all tracks, against kMaxTrunSamples
    BoxList trafs(body, size);
    Box traf;
    while (trafs.next(&traf)) {
        if (traf.type != fourcc("traf")) continue;
        Box tfhd;
        if (!find_child(traf.body, traf.size, fourcc("tfhd"), &tfhd) || tfhd.size < kFullBoxBytes + 4)
            return fail(DemuxStatus::Malformed);
        const uint32_t flags = box_flags(tfhd);
        const uint32_t track = be32(tfhd.body + kFullBoxBytes);
        size_t at = kFullBoxBytes + 4;
        uint64_t base = flags & kDefaultBaseIsMoof ? moof_at : previous_end;
        uint32_t default_duration = init_.default_duration, default_size = init_.default_size;
        auto field = [&](uint32_t flag, size_t bytes, uint64_t* value) {
            if (!(flags & flag)) return true;
            if (tfhd.size < at + bytes) return false;
            if (value) *value = bytes == 8 ? be64(tfhd.body + at) : be32(tfhd.body + at);
            at += bytes;
            return true;
        };
        uint64_t base_offset = 0, duration = default_duration, sample_size = default_size;
        if (!field(kBaseDataOffset, 8, &base_offset) || !field(kSampleDescriptionIndex, 4, nullptr) ||
            !field(kDefaultDuration, 4, &duration) || !field(kDefaultSize, 4, &sample_size) ||
            !field(kDefaultFlags, 4, nullptr))
            return fail(DemuxStatus::Malformed);
        if (flags & kBaseDataOffset) {
            if (base_offset > kToEnd - segment_at_) return fail(DemuxStatus::Malformed);
            base = segment_at_ + base_offset;
        }
        default_duration = static_cast<uint32_t>(duration);
        default_size = static_cast<uint32_t>(sample_size);
        const bool ours = track == init_.track_id;
        Box tfdt;
        if (ours && find_child(traf.body, traf.size, fourcc("tfdt"), &tfdt) && tfdt.size >= kFullBoxBytes + 4) {
            const bool wide = tfdt.body[0] == 1;
            if (wide && tfdt.size < kFullBoxBytes + 8) return fail(DemuxStatus::Malformed);
            const uint64_t t = wide ? be64(tfdt.body + kFullBoxBytes) : be32(tfdt.body + kFullBoxBytes);
            fragment_time_ = t > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                                 ? kNoTime
                                 : static_cast<int64_t>(t);
        }
        uint64_t data_at = base;
        BoxList kids(traf.body, traf.size);
        Box trun;
        while (kids.next(&trun)) {
            if (trun.type != fourcc("trun")) continue;
            if (trun.size < kFullBoxBytes + 4) return fail(DemuxStatus::Malformed);
            const uint32_t tf = box_flags(trun);
            const uint32_t count = be32(trun.body + kFullBoxBytes);
            size_t k = kFullBoxBytes + 4;
            if (tf & kDataOffset) {
                if (trun.size < k + 4) return fail(DemuxStatus::Malformed);
                const int32_t offset = static_cast<int32_t>(be32(trun.body + k));
                if (offset < 0 && static_cast<uint64_t>(-static_cast<int64_t>(offset)) > base)
                    return fail(DemuxStatus::Malformed);
                data_at = base + static_cast<uint64_t>(static_cast<int64_t>(offset));
                k += 4;
            }
            if (tf & kFirstSampleFlags) k += 4;
            size_t per_sample = 0;
            for (uint32_t f : {kSampleDuration, kSampleSize, kSampleFlags, kSampleCompositionOffset})
                if (tf & f) per_sample += 4;
            if (k > trun.size || (per_sample > 0 && count > (trun.size - k) / per_sample))
                return fail(DemuxStatus::Malformed);
            total += count;
            if (total > kMaxTrunSamples) return fail(DemuxStatus::TooLarge);
            if (!(tf & kSampleSize) && default_size == 0) return fail(DemuxStatus::Malformed);
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t d = default_duration, s = default_size;
                if (tf & kSampleDuration) d = be32(trun.body + k), k += 4;
                if (tf & kSampleSize) s = be32(trun.body + k), k += 4;
                if (tf & kSampleFlags) k += 4;
                if (tf & kSampleCompositionOffset) k += 4;
                if (s > kToEnd - data_at) return fail(DemuxStatus::Malformed);
                if (ours) samples_.push_back({data_at, s, d});
                data_at += s;
            }
        }
        if (kids.bad()) return fail(DemuxStatus::Malformed);
        previous_end = data_at;
    }
    if (trafs.bad()) return fail(DemuxStatus::Malformed);
    // Titles of emsg boxes that waited for this fragment's time.
    const int64_t at90k = fragment_time_ == kNoTime ? kNoTime : to_90k(static_cast<uint64_t>(fragment_time_));
    for (PendingTitle& p : pending_titles_)
        out->titles.push_back({at90k == kNoTime || p.delta_90k == kNoTime ||
                                       at90k > std::numeric_limits<int64_t>::max() - p.delta_90k
                                   ? kNoTime
                                   : at90k + p.delta_90k,
                               std::move(p.text)});
    pending_titles_.clear();
}

void Fmp4Demuxer::mdat(const uint8_t* body, size_t size, uint64_t body_at, SegmentOutput* out) {
    int64_t t = fragment_time_;
    for (const Sample& s : samples_) {
        if (s.offset < body_at || s.offset - body_at > size || s.size > size - (s.offset - body_at))
            continue;  // not in this mdat
        if (s.size == 0) continue;
        const uint8_t* p = body + (s.offset - body_at);
        uint32_t duration = s.duration;
        AudioChunk chunk;
        chunk.kind = init_.kind;
        chunk.time = t == kNoTime ? kNoTime : to_90k(static_cast<uint64_t>(t));
        if (init_.kind == AudioKind::Adts) {
            uint8_t header[kAdtsHeaderBytes];
            if (!make_adts_header(init_.aac, s.size, header)) continue;
            chunk.bytes.assign(header, header + kAdtsHeaderBytes);
            if (duration == 0)
                duration = static_cast<uint32_t>(uint64_t{kAacFrameSamples} * init_.timescale /
                                                 static_cast<uint64_t>(init_.aac.sample_rate));
        } else if (duration == 0) {
            MpegHeader h;
            if (s.size >= kMpegHeaderBytes && parse_mpeg_header(p, &h))
                duration = static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(h.samples_per_frame)} *
                                                 init_.timescale / static_cast<uint64_t>(h.sample_rate));
        }
        chunk.bytes.insert(chunk.bytes.end(), p, p + s.size);
        out->audio.push_back(std::move(chunk));
        if (t != kNoTime) t = t <= std::numeric_limits<int64_t>::max() - duration ? t + duration : kNoTime;
    }
    if (!samples_.empty()) next_time_ = t;
    samples_.clear();
}

void Fmp4Demuxer::emsg(const uint8_t* body, size_t size, SegmentOutput* out) {
    if (size < kFullBoxBytes) return;
    const uint8_t version = body[0];
    size_t at = kFullBoxBytes;
    std::string scheme, value;
    uint32_t timescale = 0;
    uint64_t time = 0;
    constexpr size_t kV0Numbers = 16, kV1Numbers = 20;
    if (version == 0) {
        if (!cstring(body, size, &at, &scheme) || !cstring(body, size, &at, &value)) return;
        if (size - at < kV0Numbers) return;
        timescale = be32(body + at);
        time = be32(body + at + 4);
        at += kV0Numbers;
    } else if (version == 1) {
        if (size - at < kV1Numbers) return;
        timescale = be32(body + at);
        time = be64(body + at + 4);
        at += kV1Numbers;
        if (!cstring(body, size, &at, &scheme) || !cstring(body, size, &at, &value)) return;
    } else {
        return;
    }
    if (timescale == 0) return;
    if (std::none_of(std::begin(kId3Schemes), std::end(kId3Schemes),
                     [&](const char* s) { return scheme == s; }))
        return;
    Id3Tag tag;
    if (parse_id3(body + at, size - at, &tag) != Id3Status::Ok) return;
    std::string text = id3_title(tag);
    if (text.empty()) return;
    const int64_t t = scale_to_90k(time, timescale);
    if (version == 1) {
        out->titles.push_back({t, std::move(text)});
    } else {
        // Relative to the fragment that follows: placed once its moof is read.
        pending_titles_.push_back({t, std::move(text)});
    }
}

DemuxStatus Fmp4Demuxer::end(SegmentOutput* out) {
    if (status_ != DemuxStatus::Ok) return status_;
    if (box_header_ != 0 && box_size_ == kToEnd) box(out);
    for (PendingTitle& p : pending_titles_) out->titles.push_back({kNoTime, std::move(p.text)});
    pending_titles_.clear();
    if (!have_init_) fail(DemuxStatus::NoAudio);
    return status_;
}

}  // namespace engine::hls
