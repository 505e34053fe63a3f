#include "engine/net/reconnect_overlap.h"

#include <algorithm>

namespace engine {

namespace {
constexpr uint64_t kMsPerSecond = 1000;
}

size_t overlap_history_bytes(uint32_t byte_rate) {
    const uint64_t wanted = static_cast<uint64_t>(byte_rate) * kOverlapHistoryMs / kMsPerSecond;
    return static_cast<size_t>(
        std::clamp<uint64_t>(wanted, kMinOverlapHistoryBytes, kMaxOverlapHistoryBytes));
}

Overlap find_overlap(const uint8_t* history, size_t h, const uint8_t* fresh, size_t n, bool final) {
    const Overlap none{OverlapVerdict::None, 0};
    // An overlap is at least kMinOverlapBytes and shorter than the history.
    if (h <= kMinOverlapBytes) return none;
    if (n == 0) return final ? none : Overlap{};
    // The new bytes as a pattern run over the history after its first byte
    // (Knuth-Morris-Pratt): where the run ends is the longest of them that
    // ends the history; a whole match before the end means the overlap may
    // be longer than the bytes that came.
    const size_t m = std::min(n, h - 1);
    std::vector<uint32_t> border(m);  // longest proper border of fresh[0..i]
    for (size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && fresh[i] != fresh[k]) k = border[k - 1];
        if (fresh[i] == fresh[k]) ++k;
        border[i] = static_cast<uint32_t>(k);
    }
    size_t q = 0;
    bool longer = false;
    for (size_t i = 1; i < h; ++i) {
        const uint8_t c = history[i];
        if (q == m) q = border[q - 1];
        while (q > 0 && fresh[q] != c) q = border[q - 1];
        if (fresh[q] == c) ++q;
        if (q == m && i + 1 < h) longer = true;
    }
    if (longer && !final) return Overlap{};
    if (q >= kMinOverlapBytes) return Overlap{OverlapVerdict::Found, q};
    return none;
}

void ReconnectOverlap::SetCapacity(size_t bytes) {
    capacity_ = bytes;
    history_.clear();
    history_.shrink_to_fit();
}

void ReconnectOverlap::Delivered(const uint8_t* data, size_t n) {
    if (capacity_ == 0 || n == 0) return;
    if (n >= capacity_) {
        history_.assign(data + (n - capacity_), data + n);
        return;
    }
    if (history_.size() + n > 2 * capacity_)
        history_.erase(history_.begin(), history_.end() - static_cast<long>(capacity_ - n));
    history_.insert(history_.end(), data, data + n);
}

void ReconnectOverlap::Begin() {
    fresh_.clear();
    next_look_ = 0;
}

void ReconnectOverlap::Offer(const uint8_t* data, size_t n) {
    fresh_.insert(fresh_.end(), data, data + std::min(n, room()));
}

Overlap ReconnectOverlap::Decide(bool final) {
    final = final || room() == 0;
    if (!final && fresh_.size() < next_look_) return Overlap{};
    const size_t h = std::min(history_.size(), capacity_);
    const Overlap o = find_overlap(history_.data() + (history_.size() - h), h, fresh_.data(),
                                   fresh_.size(), final);
    if (o.verdict == OverlapVerdict::Undecided)
        next_look_ = fresh_.size() + std::max(kOverlapLookStep, fresh_.size() / 2);
    return o;
}

void ReconnectOverlap::End() {
    fresh_.clear();
    fresh_.shrink_to_fit();
}

void place_joined_titles(std::vector<IcyMeta>* metas, uint64_t joined_at, uint64_t skip,
                         uint64_t* newest) {
    size_t kept = 0;
    for (size_t i = 0; i < metas->size(); ++i) {
        IcyMeta& m = (*metas)[i];
        const uint64_t at = m.audio_offset > skip ? m.audio_offset - skip : 0;
        if (at < joined_at) {
            // Audio that was delivered already: only news about it counts.
            if (*newest != kNoTitleYet && at <= *newest) continue;
            m.audio_offset = joined_at;
        } else {
            m.audio_offset = at;
        }
        *newest = at;
        if (kept != i) (*metas)[kept] = std::move(m);
        ++kept;
    }
    metas->resize(kept);
}

}  // namespace engine
