#include <cstdint>

#include "engine/hls/ts_demux.h"
#include "tests/fuzz/engine/fuzz_hls_segment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine::hls;
    engine_fuzz::whole_and_pieces([] { return std::make_unique<TsDemuxer>(); }, data, size,
                                  kMaxPesBytes);
    (void)sniff_segment(data, size);
    return 0;
}
