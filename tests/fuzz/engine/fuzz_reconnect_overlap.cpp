#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/net/reconnect_overlap.h"
#include "tests/fuzz/engine/pieces.h"

namespace {

using namespace engine;

// Every overlap found is a real one and the longest there is.
void check(const std::vector<uint8_t>& history, const std::vector<uint8_t>& fresh, const Overlap& o) {
    const size_t h = history.size(), n = fresh.size();
    if (o.verdict != OverlapVerdict::Found) {
        if (o.skip != 0) __builtin_trap();
        return;
    }
    if (o.skip < kMinOverlapBytes || o.skip >= h || o.skip > n) __builtin_trap();
    if (std::memcmp(fresh.data(), history.data() + h - o.skip, o.skip) != 0) __builtin_trap();
    for (size_t k = std::min(n, h - 1); k > o.skip; --k) {
        if (std::memcmp(fresh.data(), history.data() + h - k, k) == 0) __builtin_trap();
    }
}

}  // namespace

// The input's first byte splits the rest into a history and new bytes, the
// next two say how much of the history's end the new bytes begin with (so
// overlaps are common), the fourth seeds the sizes of the pieces the
// stateful side gets them in.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 4;
    if (size < kHead) return 0;
    const uint8_t* body = data + kHead;
    const size_t body_size = size - kHead;
    const size_t h = body_size * data[0] / 255;
    const std::vector<uint8_t> history(body, body + h);
    const size_t repeat = h ? ((static_cast<size_t>(data[1]) << 8) | data[2]) % (h + 1) : 0;
    std::vector<uint8_t> fresh(history.end() - static_cast<long>(repeat), history.end());
    fresh.insert(fresh.end(), body + h, body + body_size);

    Overlap whole{};
    for (bool final : {false, true}) {
        const Overlap o = find_overlap(history.data(), h, fresh.data(), fresh.size(), final);
        if (final && o.verdict == OverlapVerdict::Undecided) __builtin_trap();
        check(history, fresh, o);
        // A decision does not change when nothing more comes.
        if (!final && o.verdict != OverlapVerdict::Undecided) whole = o;
        if (final && whole.verdict != OverlapVerdict::Undecided &&
            (whole.verdict != o.verdict || whole.skip != o.skip))
            __builtin_trap();
    }

    // The same in pieces: the first decision is the one all of it gives (up
    // to what the look-ahead holds).
    ReconnectOverlap r;
    r.SetCapacity(std::max<size_t>(h, 1));
    std::vector<uint8_t> seeded(1, data[3]);
    seeded.insert(seeded.end(), history.begin(), history.end());
    for (const auto& piece : engine_fuzz::pieces(seeded.data(), seeded.size()))
        r.Delivered(piece.data(), piece.size());
    r.Begin();
    seeded.assign(1, data[3]);
    seeded.insert(seeded.end(), fresh.begin(), fresh.end());
    Overlap first{};
    for (const auto& piece : engine_fuzz::pieces(seeded.data(), seeded.size())) {
        r.Offer(piece.data(), piece.size());
        first = r.Decide(false);
        if (first.verdict != OverlapVerdict::Undecided) break;
    }
    if (first.verdict == OverlapVerdict::Undecided) first = r.Decide(true);
    if (r.fresh().size() > std::max<size_t>(h, 1)) __builtin_trap();
    const Overlap all = find_overlap(history.data(), h, fresh.data(), std::min(fresh.size(), std::max<size_t>(h, 1)), true);
    if (first.verdict != all.verdict || first.skip != all.skip) __builtin_trap();
    r.End();
    return 0;
}
