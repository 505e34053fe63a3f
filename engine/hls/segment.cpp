#include "engine/hls/segment.h"

#include <cstring>

#include "engine/codec/adts.h"
#include "engine/codec/mpeg_header.h"
#include "engine/hls/fmp4.h"
#include "engine/hls/packed_audio.h"
#include "engine/hls/ts_demux.h"

namespace engine::hls {

namespace {

constexpr size_t kBoxTypeAt = 4;
constexpr size_t kBoxTypeBytes = 4;
constexpr int kTsSyncChecks = 3;

bool ts_at_start(const uint8_t* data, size_t size) {
    if (size == 0 || data[0] != kTsSyncByte) return false;
    for (int i = 1; i < kTsSyncChecks; ++i) {
        const size_t at = i * kTsPacketBytes;
        if (at < size && data[at] != kTsSyncByte) return false;
    }
    return true;
}

bool box_at_start(const uint8_t* data, size_t size) {
    static const char* const kTopLevel[] = {"styp", "ftyp", "moof", "moov", "sidx",
                                            "emsg", "prft", "free", "skip", "mdat"};
    if (size < kBoxTypeAt + kBoxTypeBytes) return false;
    for (const char* type : kTopLevel)
        if (std::memcmp(data + kBoxTypeAt, type, kBoxTypeBytes) == 0) return true;
    return false;
}

}  // namespace

int64_t pts_unwrap(int64_t reference, int64_t pts) {
    const int64_t low = pts & (kPtsModulo - 1);
    if (reference < 0) return low;
    int64_t v = reference - (reference & (kPtsModulo - 1)) + low;
    if (v - reference > kPtsModulo / 2) v -= kPtsModulo;
    if (reference - v > kPtsModulo / 2) v += kPtsModulo;
    return v;
}

SegmentFormat sniff_segment(const uint8_t* data, size_t size) {
    if (!data || size == 0) return SegmentFormat::Unknown;
    if (ts_at_start(data, size)) return SegmentFormat::MpegTs;
    if (box_at_start(data, size)) return SegmentFormat::Fmp4;
    if (size >= 3 && std::memcmp(data, "ID3", 3) == 0) return SegmentFormat::PackedAudio;
    AdtsHeader adts;
    if (size >= kAdtsHeaderBytes && parse_adts_header(data, &adts)) return SegmentFormat::PackedAudio;
    MpegHeader mpeg;
    if (size >= kMpegHeaderBytes && parse_mpeg_header(data, &mpeg)) return SegmentFormat::PackedAudio;
    return SegmentFormat::Unknown;
}

std::unique_ptr<SegmentDemuxer> make_segment_demuxer(SegmentFormat format, const Fmp4Init* init) {
    switch (format) {
    case SegmentFormat::MpegTs:
        return std::make_unique<TsDemuxer>();
    case SegmentFormat::PackedAudio:
        return std::make_unique<PackedAudioDemuxer>();
    case SegmentFormat::Fmp4:
        return init ? std::make_unique<Fmp4Demuxer>(*init) : std::make_unique<Fmp4Demuxer>();
    case SegmentFormat::Unknown:
        break;
    }
    return nullptr;
}

}  // namespace engine::hls
