#include <cstdint>

#include "engine/codec/adts.h"
#include "engine/hls/fmp4.h"
#include "tests/fuzz/engine/fuzz_hls_segment.h"

// The input is an init segment followed by fragments, as the engine pushes an
// EXT-X-MAP before a segment. Every ADTS-wrapped unit is one whole frame.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine::hls;
    engine_fuzz::whole_and_pieces([] { return std::make_unique<Fmp4Demuxer>(); }, data, size,
                                  kMaxMdatBytes);
    Fmp4Demuxer d;
    SegmentOutput out;
    d.push(data, size, &out);
    d.end(&out);
    for (const AudioChunk& c : out.audio) {
        if (c.kind != AudioKind::Adts) continue;
        engine::AdtsHeader h;
        if (c.bytes.size() < engine::kAdtsHeaderBytes || !engine::parse_adts_header(c.bytes.data(), &h) ||
            h.frame_bytes != c.bytes.size())
            __builtin_trap();
    }
    Fmp4Init init;
    if (parse_fmp4_init(data, size, &init) == DemuxStatus::Ok && init.kind == AudioKind::Adts &&
        (init.aac.object_type < 1 || init.aac.object_type > 4 || init.timescale == 0))
        __builtin_trap();
    return 0;
}
