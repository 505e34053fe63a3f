// Separates the ICY metadata blocks that a server interleaves with the audio
// every `metaint` bytes. A block is one length byte (times 16 bytes of text
// follow, 0-255), then the text padded with NULs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct IcyMeta {
    uint64_t audio_offset = 0;  // audio bytes that came before this block: the
                                // metadata belongs to the audio from here on
    std::string text;           // the block's text up to its first NUL (the padding)
};

class IcyDemux {
public:
    // metaint 0 passes everything through as audio. A connection that takes
    // over from an earlier one counts on from that one's audio_bytes().
    explicit IcyDemux(uint32_t metaint = 0, uint64_t audio_before = 0)
        : metaint_(metaint), until_meta_(metaint), audio_total_(audio_before) {}

    // Splits data[0..size): audio bytes are written to audio_out (room for
    // `size` bytes; may be the same buffer as data: output never overtakes
    // input). Every complete non-empty block is appended to *metas. Returns
    // the number of audio bytes written. Blocks of length 0 report nothing.
    size_t feed(const uint8_t* data, size_t size, uint8_t* audio_out, std::vector<IcyMeta>* metas);

    uint64_t audio_bytes() const { return audio_total_; }
    // `n` of the audio bytes counted so far were dropped (a repeat): the
    // blocks from here on count without them.
    void discount(uint64_t n) { audio_total_ -= n < audio_total_ ? n : audio_total_; }
    // True while a block has been started but not finished: at the end of the
    // stream such a block is incomplete and was not reported.
    bool inside_block() const { return state_ != State::Audio; }

private:
    enum class State { Audio, Length, Text };

    uint32_t metaint_;
    uint32_t until_meta_;
    State state_ = State::Audio;
    size_t text_left_ = 0;
    std::string text_;
    uint64_t audio_total_;
};

}  // namespace engine
