#include <cstdint>

#include "engine/net/http_head.h"
#include "tests/fuzz/engine/pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    HttpHeadParser p;
    size_t total = 0;
    HeadResult r = HeadResult::NeedMore;
    for (const auto& piece : engine_fuzz::pieces(data, size)) {
        size_t used = 0;
        r = p.feed(piece.data(), piece.size(), &used);
        if (used > piece.size()) __builtin_trap();
        total += used;
        if (r != HeadResult::NeedMore) break;
    }
    if (r == HeadResult::Done) {
        const HttpHead& h = p.head();
        if (h.lines.size() > kMaxHeadLines) __builtin_trap();
        // An empty line would end the tag list made from these.
        for (const auto& line : h.lines)
            if (line.empty() || line.size() > kMaxHeadLineLength) __builtin_trap();
        if (h.icy_metaint() > kMaxIcyMetaint) __builtin_trap();
        (void)h.content_type();
        (void)h.content_length();
        (void)h.is_chunked();
        (void)h.is_redirect();
    }
    (void)total;
    return 0;
}
