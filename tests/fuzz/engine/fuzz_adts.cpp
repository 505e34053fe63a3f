#include <cstdint>

#include "engine/codec/adts.h"
#include "engine/codec/stream_probe.h"
#include "tests/fuzz/engine/pieces.h"

// Every frame the framer passes on is one whole frame with a valid header,
// and every header gives a decoder set-up of the right shape.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    AdtsFramer f;
    auto check = [&f]() {
        AdtsFrame fr;
        while (f.next_frame(&fr)) {
            AdtsHeader h;
            if (!parse_adts_header(fr.data, &h)) __builtin_trap();
            if (h.frame_bytes != fr.size || fr.size > kAdtsMaxFrameBytes) __builtin_trap();
            for (bool named : {false, true}) {
                AacSetup s;
                if (!aac_setup_for(h, named, &s)) {
                    if (h.object_type == kAacObjectLc) __builtin_trap();
                    continue;
                }
                const size_t asc = aac_audio_specific_config(s).size();
                if (asc != (s.sbr == AacSbr::Explicit ? 4u : 2u)) __builtin_trap();
                if (aac_decoder_user_data(s).size() != 12 + asc) __builtin_trap();
                if (s.output_rate <= 0 || s.output_rate > 96000 || s.output_channels < 1 ||
                    s.output_channels > 8)
                    __builtin_trap();
            }
        }
    };
    engine_fuzz::push_in_pieces(f, kAdtsFramerCapacity, data, size, check);
    (void)adts_byte_rate(data, size);
    AdtsHeader first;
    (void)probe_adts(data, size, &first);
    return 0;
}
