#include <cstdint>

#include "engine/codec/format_sniffer.h"
#include "engine/codec/stream_probe.h"

// The first bytes of a stream as the create looks at them: the format sniff,
// the MPEG probe past any ID3v2 tag, the data rate and the buffer plan. Every
// answer stays in its bounds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    for (bool at_end : {false, true}) {
        const StreamFormat f = sniff_format(data, size, at_end);
        MpegHeader h;
        if (probe_mpeg(data, size, &h) &&
            (h.layer < 1 || h.layer > 3 || h.sample_rate < 8000 || h.frame_bytes <= 0))
            __builtin_trap();
        // The head's icy-br as a string from the same bytes.
        char br[16] = {};
        for (size_t i = 0; i < sizeof br - 1 && i < size; ++i) br[i] = static_cast<char>(data[i]);
        const uint32_t rate = stream_byte_rate(f, data, size, br);
        if (rate < kMinByteRate || rate > kMaxByteRate) __builtin_trap();
        const BufferPlan plan = plan_buffer(rate, size);
        if (plan.capacity < size || plan.prebuffer > plan.capacity ||
            prebuffer_wanted(plan, 1000) > plan.prebuffer)
            __builtin_trap();
    }
    return 0;
}
