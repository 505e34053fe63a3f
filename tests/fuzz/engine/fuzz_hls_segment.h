// Shared by the HLS segment fuzzers: a demuxer fed the input at once and fed
// it in pieces must put out the same, and what it puts out keeps its bounds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/hls/id3.h"
#include "engine/hls/segment.h"

namespace engine_fuzz {

inline bool valid_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// The titles an ID3 reader hands out: two values and a separator at most.
constexpr size_t kMaxTitleBytes = 2 * engine::hls::kMaxId3TextBytes + 3;

inline void check_output(const engine::hls::SegmentOutput& out, size_t max_chunk) {
    using namespace engine::hls;
    for (const AudioChunk& c : out.audio) {
        if (c.bytes.empty() || c.bytes.size() > max_chunk) __builtin_trap();
        if (c.time < kNoTime) __builtin_trap();
    }
    for (const TimedTitle& t : out.titles)
        if (t.text.empty() || t.text.size() > kMaxTitleBytes || !valid_utf8(t.text)) __builtin_trap();
}

inline bool same(const engine::hls::SegmentOutput& a, const engine::hls::SegmentOutput& b) {
    if (a.audio.size() != b.audio.size() || a.titles.size() != b.titles.size()) return false;
    for (size_t i = 0; i < a.audio.size(); ++i) {
        const auto &x = a.audio[i], &y = b.audio[i];
        if (x.kind != y.kind || x.time != y.time || x.after_gap != y.after_gap || x.bytes != y.bytes)
            return false;
    }
    for (size_t i = 0; i < a.titles.size(); ++i)
        if (a.titles[i].time != b.titles[i].time || a.titles[i].text != b.titles[i].text) return false;
    return true;
}

// Runs two fresh demuxers from make(): one gets the input whole, the other
// in pieces of 1-97 bytes chosen from the input's size.
template <class Make>
void whole_and_pieces(Make make, const uint8_t* data, size_t size, size_t max_chunk) {
    using namespace engine::hls;
    SegmentOutput whole, split;
    auto a = make();
    a->push(data, size, &whole);
    const DemuxStatus sa = a->end(&whole);
    auto b = make();
    uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
    for (size_t at = 0; at < size;) {
        state = state * 1103515245u + 12345u;
        const size_t n = std::min<size_t>((state >> 16) % 97 + 1, size - at);
        b->push(data + at, n, &split);
        at += n;
    }
    const DemuxStatus sb = b->end(&split);
    if (sa != sb || a->gaps() != b->gaps() || !same(whole, split)) __builtin_trap();
    check_output(whole, max_chunk);
}

}  // namespace engine_fuzz
