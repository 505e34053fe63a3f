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

// Pushes the input into a framer piece by piece, calling check() after
// every push, and traps when the framer neither takes bytes nor has room
// left (it would be stuck full); then ends the stream and checks once more.
template <typename Framer, typename Check>
void push_in_pieces(Framer& f, size_t capacity, const uint8_t* data, size_t size, Check check) {
    for (const auto& piece : pieces(data, size)) {
        size_t at = 0;
        while (at < piece.size()) {
            const size_t n = f.push(piece.data() + at, piece.size() - at);
            at += n;
            check();
            if (n == 0 && f.buffered() >= capacity) __builtin_trap();
        }
    }
    f.end();
    check();
}

}  // namespace engine_fuzz
