#include <cstdint>

#include "engine/hls/id3.h"
#include "engine/hls/packed_audio.h"
#include "tests/fuzz/engine/fuzz_hls_segment.h"

// A tag alone, and the input as a packed-audio segment (tags among frames).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine::hls;
    Id3Tag tag;
    if (parse_id3(data, size, &tag) == Id3Status::Ok) {
        if (tag.size > size || tag.size > kMaxId3TagBytes) __builtin_trap();
        if (tag.timestamp >= kPtsModulo || tag.txxx.size() > kMaxId3Frames) __builtin_trap();
        const std::string title = id3_title(tag);
        if (title.size() > engine_fuzz::kMaxTitleBytes || !engine_fuzz::valid_utf8(title)) __builtin_trap();
        for (const Id3Priv& p : tag.priv)
            if (p.data.size() > kMaxId3PrivBytes) __builtin_trap();
    }
    engine_fuzz::whole_and_pieces([] { return std::make_unique<PackedAudioDemuxer>(); }, data, size,
                                  size);
    return 0;
}
