#include <cstdint>
#include <string>

#include "engine/net/chunked.h"
#include "tests/fuzz/engine/pieces.h"

// Decoding in pieces must give what decoding in one go gives.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    if (size == 0) return 0;
    std::string whole(reinterpret_cast<const char*>(data) + 1, size - 1);
    ChunkedDecoder one;
    size_t one_out = 0;
    const ChunkedResult one_result =
        one.feed(reinterpret_cast<uint8_t*>(&whole[0]), whole.size(), &one_out);
    if (one_out > size - 1) __builtin_trap();

    ChunkedDecoder split;
    std::string body;
    ChunkedResult r = ChunkedResult::Ok;
    for (auto piece : engine_fuzz::pieces(data, size)) {
        size_t out = 0;
        r = split.feed(piece.data(), piece.size(), &out);
        if (out > piece.size()) __builtin_trap();
        body.append(reinterpret_cast<const char*>(piece.data()), out);
        if (r != ChunkedResult::Ok) break;
    }
    if (r != one_result) __builtin_trap();
    if (r != ChunkedResult::Error && body != whole.substr(0, one_out)) __builtin_trap();
    return 0;
}
