// Tells from the first bytes of a stream whether it is MPEG audio, Ogg or
// neither, looking at no more than kSniffLimit bytes (plus a leading ID3v2
// tag, whose declared size is skipped up to kSniffMaxId3Bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

constexpr size_t kSniffLimit = 32 * 1024;
constexpr size_t kSniffMaxId3Bytes = 256 * 1024;

enum class StreamFormat {
    NeedMore,  // undecided: give more bytes (the answer is final from kSniffLimit on)
    Mpeg,
    Ogg,
    Unknown,   // neither, or the stream ended before it could tell
};

// `data` holds the stream from its first byte; `at_end` says no more will come.
StreamFormat sniff_format(const uint8_t* data, size_t size, bool at_end);

}  // namespace engine
