#include <cstdint>
#include <cstring>

#include "engine/codec/format_sniffer.h"
#include "engine/codec/mpeg_header.h"
#include "tests/fuzz/engine/pieces.h"

// Every frame the framer passes on is one whole, valid frame of the locked format.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    MpegFramer f;
    auto check = [&f]() {
        MpegFrame fr;
        while (f.next_frame(&fr)) {
            MpegHeader h;
            if (!parse_mpeg_header(fr.data, &h)) __builtin_trap();
            if (static_cast<size_t>(h.frame_bytes) != fr.size) __builtin_trap();
            if (fr.size > kMpegMaxFrameBytes) __builtin_trap();
            (void)is_mpeg_info_frame(fr.data, fr.size, h);  // reads inside the frame only
        }
    };
    engine_fuzz::push_in_pieces(f, kMpegFramerCapacity, data, size, check);
    (void)sniff_format(data, size, false);
    (void)sniff_format(data, size, true);
    return 0;
}
