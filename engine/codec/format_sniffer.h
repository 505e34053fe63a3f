// Tells from the first bytes of a stream whether it is MPEG audio, AAC in
// ADTS frames, Ogg or none of them. Candidates are searched in the first kSniffLimit bytes after a
// leading ID3v2 tag (skipped when at most kSniffMaxId3Bytes); a candidate
// found there may need the rest of its page or frames, so the answer is final
// at the latest after tag + kSniffLimit + kOggMaxPageBytes bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/codec/ogg_page.h"

namespace engine {

constexpr size_t kSniffLimit = 32 * 1024;
constexpr size_t kSniffMaxId3Bytes = 256 * 1024;

enum class StreamFormat {
    NeedMore,  // undecided: give more bytes
    Mpeg,
    Adts,
    Ogg,
    Unknown,   // neither, or the stream ended before it could tell
};

// `data` holds the stream from its first byte; `at_end` says no more will come.
StreamFormat sniff_format(const uint8_t* data, size_t size, bool at_end);

}  // namespace engine
