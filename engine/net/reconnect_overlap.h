// A live server answers a new connection with a burst of its most recent
// audio, most of which the lost connection had delivered already. This keeps
// the last audio bytes delivered and finds where a new connection's first
// bytes go on from them, so the repeat is dropped and the stream goes on from
// the first new byte; when nothing overlaps (a long outage, a server that
// sends no burst) the new bytes are played as they come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/net/icy_demux.h"

namespace engine {

// The history holds this much of the stream's byte rate...
constexpr uint32_t kOverlapHistoryMs = 8000;
// ...but at least a default Icecast burst (64 KiB whatever the rate) with
// room to spare, and at most 8 s at 320 kbit/s.
constexpr size_t kMinOverlapHistoryBytes = 96 * 1024;
constexpr size_t kMaxOverlapHistoryBytes = 320 * 1024;
// Less alike than this is not told from chance: a frame header or two, a
// stretch of digital silence.
constexpr size_t kMinOverlapBytes = 2048;
// Longest a new connection's first bytes are held while they may still turn
// out to be a repeat; a burst comes at once, and what is buffered plays on.
constexpr uint32_t kOverlapWaitMs = 1500;
// Bytes to come before the look is taken again (at least; or half as many
// again as there are), so a server that sends a byte at a time costs a few
// looks, not one per byte.
constexpr size_t kOverlapLookStep = 4096;

size_t overlap_history_bytes(uint32_t byte_rate);

enum class OverlapVerdict {
    Undecided,  // the new bytes may still be a longer repeat: wait for more
    None,       // they do not go on from the history
    Found,      // their first `skip` bytes repeat its end
};

struct Overlap {
    OverlapVerdict verdict = OverlapVerdict::Undecided;
    size_t skip = 0;
};

// history[0..h) holds the last bytes delivered, one unbroken piece of the
// stream; fresh[0..n) the first bytes of a new connection; `final` says no
// more will come. Found when fresh[0..skip) equals the last `skip` bytes of
// the history: the match must run through to the history's end (that makes
// it a continuation, not a coincidence), cover at least kMinOverlapBytes and
// begin after the history's first byte (a connection that begins with the
// very bytes the previous one began with is a server that starts every
// listener at the same place, not a burst of recent audio). Of several such
// overlaps (periodic or silent audio) the longest: the burst ends at the
// server's present, so the truth is near the whole of it, and the longer
// choice adds no delay where every choice sounds the same. Undecided while
// the new bytes so far also occur earlier in the history, so a longer
// overlap may follow; at `final` the longest one shown counts.
Overlap find_overlap(const uint8_t* history, size_t h, const uint8_t* fresh, size_t n, bool final);

// The delivered history and a new connection's held bytes.
class ReconnectOverlap {
public:
    // The history's size; what it held is forgotten.
    void SetCapacity(size_t bytes);
    size_t capacity() const { return capacity_; }
    // Every audio byte delivered, in order.
    void Delivered(const uint8_t* data, size_t n);
    // What comes next does not go on from what was delivered (a seam).
    void Restart() { history_.clear(); }

    // A new connection: its first bytes are offered (at most room() more)
    // until Decide() says where they go on.
    void Begin();
    size_t room() const { return fresh_.size() < capacity_ ? capacity_ - fresh_.size() : 0; }
    void Offer(const uint8_t* data, size_t n);
    // Undecided until the bytes tell, or `final` (no more will be offered).
    Overlap Decide(bool final);
    // The bytes offered since Begin().
    const std::vector<uint8_t>& fresh() const { return fresh_; }
    void End();

private:
    size_t capacity_ = 0;
    // The last capacity_ bytes are the history; up to as many again before
    // them wait to be dropped, so adding costs no shifting per byte.
    std::vector<uint8_t> history_;
    std::vector<uint8_t> fresh_;
    size_t next_look_ = 0;
};

// Titles found among a new connection's first bytes, whose audio_offset
// counts on from `joined_at` (the audio delivered before it) over every byte
// the connection sent. Once its first `skip` bytes are known to repeat the
// end of what was delivered, a title inside the repeat lands at the join if
// it is newer than the newest title seen (*newest, at its place in the
// delivered audio; kNoTitleYet before any), and is dropped as old news
// otherwise; every later one moves back by `skip`. *newest follows.
constexpr uint64_t kNoTitleYet = UINT64_MAX;
void place_joined_titles(std::vector<IcyMeta>* metas, uint64_t joined_at, uint64_t skip,
                         uint64_t* newest);

}  // namespace engine
