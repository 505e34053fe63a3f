#include <cstdint>
#include <set>

#include "engine/hls/m3u8.h"

// Whatever parses keeps its bounds, and its indexes and ranges hold.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine::hls;
    (void)is_hls_playlist(data, size);
    M3u8 m;
    if (parse_m3u8(data, size, &m) != M3u8Status::Ok) return 0;
    const MediaPlaylist& p = m.media;
    if (p.segments.size() > kMaxSegments || p.keys.size() > kMaxKeys || p.maps.size() > kMaxMaps)
        __builtin_trap();
    for (size_t i = 0; i < p.segments.size(); ++i) {
        const MediaSegment& s = p.segments[i];
        if (s.uri.empty() || s.sequence != p.media_sequence + i) __builtin_trap();
        if (s.key >= static_cast<int>(p.keys.size()) || s.map >= static_cast<int>(p.maps.size())) __builtin_trap();
        if (s.has_range && s.range.length > UINT64_MAX - s.range.offset) __builtin_trap();
        if (s.duration_ms > kMaxHlsDurationS * 1000u) __builtin_trap();
    }
    for (const Key& k : p.keys)
        if (k.method == KeyMethod::None || k.uri.empty()) __builtin_trap();
    const MultivariantPlaylist& mv = m.multivariant;
    if (mv.variants.size() > kMaxVariants || mv.renditions.size() > kMaxRenditions) __builtin_trap();
    for (uint64_t cap : {uint64_t{0}, uint64_t{128000}, UINT64_MAX}) {
        std::set<std::string> seen;
        for (const PlayChoice& c : variant_order(mv, cap)) {
            if (c.uri.empty() || !seen.insert(c.uri).second || c.variant >= mv.variants.size()) __builtin_trap();
            if (c.codec == CodecSupport::Unplayable) __builtin_trap();
        }
    }
    return 0;
}
