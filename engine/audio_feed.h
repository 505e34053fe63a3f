// A stream's audio from a source other than one HTTP body (an HLS stream):
// the elementary audio bytes our decoders take (ADTS or MPEG audio frames),
// the titles placed on them, and the breaks where the decoder starts afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/net/icy_demux.h"

namespace engine {

class AudioFeed {
public:
    virtual ~AudioFeed() = default;
    // Audio bytes (> 0), 0 once the stream ended by itself, or a negative
    // SocketResult: a timeout only ends this wait, the feed goes on; any
    // other failure is for good (Error() says why). Titles due within the
    // bytes handed out so far are appended to *titles, their audio_offset
    // counted in the feed's audio bytes.
    virtual int Read(uint8_t* buffer, size_t size, uint32_t timeout_ms, std::vector<IcyMeta>* titles) = 0;
    // True (once) when the bytes the last Read gave begin after a break:
    // what came before is not continued (a discontinuity), and
    // *silence_ms of the stream could not be had there (0: nothing missing).
    virtual bool TakeBreak(uint32_t* silence_ms) = 0;
    // Once Read failed for good: the engine's error code; 0 when cancelled.
    virtual int Error() const = 0;
};

}  // namespace engine
