// How an HLS stream is followed, apart from the network: where a live list
// is joined and when it is reloaded, how a decrypted segment is unpadded,
// and where a timed title lands in the audio bytes handed to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/hls/m3u8.h"

namespace engine::hls {

constexpr uint32_t kLiveStartTargets = 3;      // a live list is joined this far from its edge
constexpr uint32_t kMinReloadMs = 500;         // no list is reloaded faster than this
constexpr uint32_t kMaxTargetDurationS = 60;   // a longer target duration counts as this
// A live list that brought no new segment for 1.5 target durations (at
// least this long) has stopped advancing: the connection counts as lost.
constexpr uint32_t kMinStallMs = 4000;
constexpr size_t kMaxTitleBytes = 1024;        // a title longer than this is cut
constexpr size_t kAesBlockBytes = 16;

// Index of the first segment to play: the list's first when it will not
// grow (ENDLIST, or a VOD list), else the one from which about
// kLiveStartTargets target durations remain to the live edge (the last
// segment at the latest).
size_t start_index(const MediaPlaylist& list);

// The segment with media sequence number `sequence`, or null.
const MediaSegment* find_segment(const MediaPlaylist& list, uint64_t sequence);

// The wait before the next reload, counted from the start of the last one:
// the target duration, or half of it after a reload that brought nothing
// new; never less than kMinReloadMs.
uint32_t reload_delay_ms(uint32_t target_duration_s, bool unchanged);

// How long a live list may go without a new segment before it counts as lost.
uint32_t stall_ms(uint32_t target_duration_s);

// Removes the PKCS#7 padding of decrypted bytes; false (nothing removed)
// when the data is not whole blocks or the padding is not valid.
bool strip_pkcs7(std::vector<uint8_t>* data);

// An audio chunk of a segment as it was placed among the bytes handed out.
struct PlacedChunk {
    uint64_t offset = 0;   // of its first byte
    int64_t time = 0;      // 90 kHz, unwrapped; kNoTime when it has none
};

// Where a title of `time` is heard among a segment's bytes [start, end),
// whose chunks (in order) are `chunks`: within the chunk its time falls in,
// in proportion to the segment's bytes per tick; at `start` when it comes
// before the audio or has no time; never beyond `end`.
uint64_t place_title(const std::vector<PlacedChunk>& chunks, int64_t time, uint64_t start, uint64_t end);

// A title in the form of an ICY metadata block, StreamTitle='...';, with
// control characters made blanks and cut to kMaxTitleBytes (never inside a
// UTF-8 character).
std::string stream_title(const std::string& text);

}  // namespace engine::hls
