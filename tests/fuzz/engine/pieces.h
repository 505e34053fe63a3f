// Splits a fuzzer's input into pieces of sizes the input itself chooses, so
// every parser is also fuzzed across read boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine_fuzz {

// The first byte seeds the piece sizes (1-64 bytes, or everything when 0);
// the rest is the stream.
inline std::vector<std::vector<uint8_t>> pieces(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> out;
    if (size == 0) return out;
    uint32_t state = data[0] * 2654435761u + 1;
    const bool whole = data[0] == 0;
    ++data;
    --size;
    size_t at = 0;
    while (at < size) {
        state = state * 1103515245u + 12345u;
        size_t n = whole ? size : (state >> 16) % 64 + 1;
        if (n > size - at) n = size - at;
        out.emplace_back(data + at, data + at + n);
        at += n;
    }
    return out;
}

}  // namespace engine_fuzz
