// Fragmented MP4 (CMAF) audio: the init segment's moov gives the audio
// track (its id, timescale and the mp4a sample entry's esds with the
// AudioSpecificConfig); each media segment's moof/mdat pairs give the
// access units, which come out wrapped in ADTS headers made from that
// config, so the ADTS framer and AAC decoder take them as they are. MPEG
// audio in mp4a (object types 0x6B, 0x69) or '.mp3' comes out as its frames.
//
// 'emsg' boxes whose scheme is ID3 timed metadata are read: their titles
// come out as TimedTitles (version 1: the box's presentation time; version
// 0: the next fragment's decode time plus the box's delta).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/hls/segment.h"

namespace engine::hls {

constexpr size_t kMaxInitBytes = 1024 * 1024;      // a moov, or a whole init segment
constexpr size_t kMaxMoofBytes = 1024 * 1024;
constexpr size_t kMaxMdatBytes = 16 * 1024 * 1024;  // one media box held whole
constexpr size_t kMaxEmsgBytes = 256 * 1024;
constexpr size_t kMaxBoxDepth = 8;
constexpr size_t kMaxBoxesPerLevel = 256;
constexpr uint32_t kMaxTrunSamples = 64 * 1024;     // samples in one fragment, all truns

// The AudioSpecificConfig fields ADTS can carry (ISO/IEC 14496-3, 1.6.2.1),
// with the HE-AAC extension (explicit, or the backward-compatible sync
// extension after the core's config).
struct AacConfig {
    int object_type = 0;     // the core: 1 Main, 2 LC, 3 SSR, 4 LTP (after SBR/PS unwrapping)
    int rate_index = 0;      // the core's, 0-12
    int sample_rate = 0;     // Hz, the core's
    int channel_config = 0;  // 1-7 (0, a program config element, is refused)
    bool sbr = false;        // HE-AAC
    bool ps = false;         // HE-AAC v2
};

// False for configs ADTS cannot carry: object types beyond 4 after the
// extension, a rate outside the ADTS table, channel configuration 0 or > 7.
bool parse_audio_specific_config(const uint8_t* data, size_t size, AacConfig* out);

// The 7-byte ADTS header (no CRC) for one access unit of `payload_bytes`.
// False when the frame would be longer than ADTS can say.
bool make_adts_header(const AacConfig& config, size_t payload_bytes, uint8_t out[7]);

struct Fmp4Init {
    uint32_t track_id = 0;
    uint32_t timescale = 0;           // mdhd
    AudioKind kind = AudioKind::Adts;
    AacConfig aac;                    // with kind Adts
    std::vector<uint8_t> audio_specific_config;  // as in the esds, with kind Adts
    uint32_t default_duration = 0;    // trex defaults (mvex), 0 when absent
    uint32_t default_size = 0;
};

// Reads an init segment (or just its moov) for the first audio track
// ('soun' handler) with an 'mp4a' or '.mp3' sample entry. Unsupported for
// an audio track we cannot play ('enca' encrypted, Opus, AC-3, ...), NoAudio
// when there is no audio track, Malformed/TooLarge for broken boxes.
DemuxStatus parse_fmp4_init(const uint8_t* data, size_t size, Fmp4Init* out);

// Top-level boxes are held whole (each within its bound) until complete;
// those we do not read are passed over without being held. Without an init
// it reads one from a moov in the bytes pushed (an EXT-X-MAP pushed before
// the segment); a moov in the stream replaces the init given. Fragments of
// other tracks are skipped. A tfhd base-data-offset counts from the first
// byte after the last moov (or the first byte pushed).
class Fmp4Demuxer : public SegmentDemuxer {
public:
    Fmp4Demuxer() = default;
    explicit Fmp4Demuxer(const Fmp4Init& init) : init_(init), have_init_(true) {}

    DemuxStatus push(const uint8_t* data, size_t size, SegmentOutput* out) override;
    DemuxStatus end(SegmentOutput* out) override;
    DemuxStatus status() const override { return status_; }
    bool he_aac() const override { return have_init_ && init_.kind == AudioKind::Adts && init_.aac.sbr; }

    const Fmp4Init* init() const { return have_init_ ? &init_ : nullptr; }

private:
    struct Sample {
        uint64_t offset;    // from the first byte pushed
        uint32_t size;
        uint32_t duration;  // in the track's timescale, 0 when no box said
    };
    struct PendingTitle {
        int64_t delta_90k;  // after the next fragment's decode time
        std::string text;
    };

    void take_header(SegmentOutput* out);
    void box(SegmentOutput* out);
    void moof(const uint8_t* body, size_t size, SegmentOutput* out);
    void mdat(const uint8_t* body, size_t size, uint64_t body_at, SegmentOutput* out);
    void emsg(const uint8_t* body, size_t size, SegmentOutput* out);
    int64_t to_90k(uint64_t t) const;
    void fail(DemuxStatus status);

    DemuxStatus status_ = DemuxStatus::Ok;
    Fmp4Init init_;
    bool have_init_ = false;
    uint64_t consumed_ = 0;        // bytes pushed so far
    uint64_t segment_at_ = 0;      // where the bytes after the last moov began
    std::vector<uint8_t> held_;    // the top-level box being gathered, from its first byte
    uint32_t box_type_ = 0;
    size_t box_header_ = 0;        // 0 until the header is read
    uint64_t box_size_ = 0;        // the whole box; UINT64_MAX for "to the end"
    uint64_t box_at_ = 0;          // where it began
    uint64_t skip_ = 0;            // bytes still to pass over unread
    std::vector<Sample> samples_;  // of the last moof, for the mdat after it
    int64_t fragment_time_ = kNoTime;  // its decode time, in the track's timescale
    int64_t next_time_ = kNoTime;      // where the fragment after it would begin
    std::vector<PendingTitle> pending_titles_;
};

}  // namespace engine::hls
