// When a lost connection is tried again, where a new connection's first
// bytes go on from what the old one delivered, and what a decoder's input
// does at the seam between two connections.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "engine/codec/adts.h"
#include "engine/net/reconnect.h"
#include "engine/net/reconnect_overlap.h"

using namespace engine;

TEST(Reconnect, FirstTryAtOnceThenBackingOffWithinTheBudget) {
    const int32_t waits[] = {0, 250, 500, 1000, 2000, 4000, 4000, 4000};
    for (int attempt = 0; attempt < 8; ++attempt)
        EXPECT_EQ(reconnect_delay_ms(attempt, 0), waits[attempt]) << attempt;
    EXPECT_EQ(reconnect_delay_ms(8, 0), -1);
    EXPECT_EQ(reconnect_delay_ms(-1, 0), -1);
    // Nothing starts that could not begin before 20 s are over.
    EXPECT_EQ(reconnect_delay_ms(0, 19999), 0);
    EXPECT_EQ(reconnect_delay_ms(0, 20000), -1);
    EXPECT_EQ(reconnect_delay_ms(5, 16000), -1);
    EXPECT_EQ(reconnect_delay_ms(5, 15999), 4000);
    // All refused at once: the last try starts 15.75 s after the loss.
    uint32_t elapsed = 0;
    int tries = 0;
    for (int32_t w; (w = reconnect_delay_ms(tries, elapsed)) >= 0; ++tries) elapsed += static_cast<uint32_t>(w);
    EXPECT_EQ(tries, 8);
    EXPECT_EQ(elapsed, 15750u);
}

namespace {

// Bytes with seams, read the way the stream's ring hands them out: never
// across a seam at once.
class SeamedSource final : public ByteSource {
public:
    void Add(const std::vector<uint8_t>& bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }
    void Seam() { seams_.push_back(data_.size()); }
    void End() { ended_ = true; }
    size_t Peek(uint8_t* out, size_t n) override {
        size_t limit = data_.size();
        for (size_t s : seams_) {
            if (s > pos_) {
                limit = s;
                break;
            }
        }
        n = std::min(n, limit - pos_);
        std::copy(data_.begin() + static_cast<long>(pos_), data_.begin() + static_cast<long>(pos_ + n), out);
        return n;
    }
    void Take(size_t n) override { pos_ += n; }
    bool Ended() const override { return ended_; }
    bool TakeSeam() override {
        if (seams_.empty() || seams_.front() > pos_) return false;
        seams_.pop_front();
        return true;
    }

private:
    std::vector<uint8_t> data_;
    std::deque<size_t> seams_;
    size_t pos_ = 0;
    bool ended_ = false;
};

std::vector<uint8_t> adts_frame(size_t length, uint8_t fill) {
    std::vector<uint8_t> f = {0xFF, 0xF1, 0x50, static_cast<uint8_t>(0x80 | ((length >> 11) & 3)),
                              static_cast<uint8_t>((length >> 3) & 0xFF),
                              static_cast<uint8_t>(((length & 7) << 5) | 0x1F), 0xFC};
    f.resize(length, fill);
    return f;
}

}  // namespace

TEST(Reconnect, InputGivesTheOldConnectionsFramesThenStartsAfreshAtTheSeam) {
    SeamedSource in;
    for (size_t n : {300u, 310u, 320u}) in.Add(adts_frame(n, 0x11));
    std::vector<uint8_t> cut = adts_frame(330, 0x11);
    cut.resize(100);  // the connection went inside this frame
    in.Add(cut);
    in.Seam();
    for (size_t n : {400u, 410u, 420u, 430u}) in.Add(adts_frame(n, 0x22));
    in.End();

    FramedInput<AdtsFormat> input;
    std::vector<std::pair<size_t, bool>> got;  // size, after the seam
    AdtsFrame frame;
    bool after_seam = false;
    while (input.Next(in, &frame, &after_seam)) {
        got.emplace_back(frame.size, after_seam);
        EXPECT_EQ(frame.data[7], frame.size < 400 ? 0x11 : 0x22) << frame.size;
    }
    EXPECT_TRUE(input.ended());
    // The cut frame is dropped; the new connection's frames all come, the
    // first of them marked.
    EXPECT_EQ(got, (std::vector<std::pair<size_t, bool>>{
                       {300, false}, {310, false}, {320, false},
                       {400, true}, {410, false}, {420, false}, {430, false}}));
    EXPECT_EQ(input.frame_start(), 300u + 310 + 320 + 100 + 400 + 410 + 420);
}

namespace {

// A station's compressed audio: bytes that do not repeat.
std::vector<uint8_t> station(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

std::vector<uint8_t> part(const std::vector<uint8_t>& s, size_t from, size_t to) {
    return std::vector<uint8_t>(s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to));
}

std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Overlap look(const std::vector<uint8_t>& history, const std::vector<uint8_t>& fresh, bool final) {
    return find_overlap(history.data(), history.size(), fresh.data(), fresh.size(), final);
}

}  // namespace

TEST(ReconnectOverlap, NewBytesGoOnFromTheHistoryOnlyWhereTheyRunThroughToItsEnd) {
    const std::vector<uint8_t> s = station(200000, 7);
    const std::vector<uint8_t> other = station(50000, 8);
    const std::vector<uint8_t> history = part(s, 0, 100000);
    struct Case {
        const char* what;
        std::vector<uint8_t> fresh;
        OverlapVerdict verdict;  // with more bytes to come
        size_t skip;
        OverlapVerdict at_final;
    } cases[] = {
        // A burst that begins inside a frame of the history and runs on.
        {"burst", part(s, 60001, 130000), OverlapVerdict::Found, 39999, OverlapVerdict::Found},
        // All of the burst repeats the history: nothing new yet.
        {"burst ends at the history's end", part(s, 70000, 100000), OverlapVerdict::Found, 30000,
         OverlapVerdict::Found},
        // So far inside the history: it may run through to its end.
        {"too early to tell", part(s, 60001, 70000), OverlapVerdict::Undecided, 0, OverlapVerdict::None},
        {"breaks before the end", joined(part(s, 60001, 90000), other), OverlapVerdict::None, 0,
         OverlapVerdict::None},
        {"after a long outage", part(s, 150000, 200000), OverlapVerdict::None, 0, OverlapVerdict::None},
        // Where the history begins: a server that starts every listener
        // at the same place.
        {"from the history's start", part(s, 0, 150000), OverlapVerdict::None, 0, OverlapVerdict::None},
        {"too short to tell from chance", joined(part(s, 100000 - kMinOverlapBytes + 1, 100000), other),
         OverlapVerdict::None, 0, OverlapVerdict::None},
        {"just long enough", joined(part(s, 100000 - kMinOverlapBytes, 100000), other),
         OverlapVerdict::Found, kMinOverlapBytes, OverlapVerdict::Found},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Overlap o = look(history, c.fresh, false);
        EXPECT_EQ(o.verdict, c.verdict);
        EXPECT_EQ(o.skip, c.skip);
        EXPECT_EQ(look(history, c.fresh, true).verdict, c.at_final);
    }
}

TEST(ReconnectOverlap, RepeatingAudioTakesTheLongestOverlap) {
    // Silence: the same frame over and over after some sound.
    const std::vector<uint8_t> sound = station(40000, 9);
    const std::vector<uint8_t> frame = station(418, 10);
    std::vector<uint8_t> silence;
    while (silence.size() < 100000) silence.insert(silence.end(), frame.begin(), frame.end());
    const std::vector<uint8_t> history = joined(sound, silence);
    // A burst of silence alone matches at every frame: it may reach further
    // back, so it waits; with nothing more to come the longest counts.
    const std::vector<uint8_t> quiet = part(silence, 0, 30 * frame.size());
    EXPECT_EQ(look(history, quiet, false).verdict, OverlapVerdict::Undecided);
    const Overlap longest = look(history, quiet, true);
    EXPECT_EQ(longest.verdict, OverlapVerdict::Found);
    EXPECT_EQ(longest.skip, quiet.size());
    // One that reaches back into the sound is found at once, and exactly.
    const std::vector<uint8_t> burst = joined(part(sound, 30000, 40000), silence);
    const Overlap exact = look(history, burst, false);
    EXPECT_EQ(exact.verdict, OverlapVerdict::Found);
    EXPECT_EQ(exact.skip, 10000 + silence.size());
}

TEST(ReconnectOverlap, HistoryKeepsTheLastBytesDeliveredAndStartsAgainAtASeam) {
    const size_t capacity = overlap_history_bytes(128000 / 8);
    EXPECT_EQ(capacity, 128000u);  // 8 s at 128 kbit/s
    EXPECT_EQ(overlap_history_bytes(32000 / 8), kMinOverlapHistoryBytes);
    EXPECT_EQ(overlap_history_bytes(640000 / 8), kMaxOverlapHistoryBytes);
    const std::vector<uint8_t> s = station(5 * capacity, 11);
    ReconnectOverlap r;
    r.SetCapacity(capacity);
    // Pieces of every size, far more than the history holds.
    size_t at = 0;
    for (size_t n = 1; at + n <= 4 * capacity; n = n > capacity ? 1 : n * 3 + 1) {
        r.Delivered(s.data() + at, n);
        at += n;
    }
    // A burst of the last 50000 bytes and more, in reads: found before all
    // of it came.
    constexpr size_t kRead = 16384;
    r.Begin();
    Overlap o;
    for (size_t from = at - 50000; o.verdict == OverlapVerdict::Undecided; from += kRead) {
        r.Offer(s.data() + from, kRead);
        o = r.Decide(false);
    }
    EXPECT_EQ(o.verdict, OverlapVerdict::Found);
    EXPECT_EQ(o.skip, 50000u);
    EXPECT_LT(r.fresh().size(), 50000u + 4 * kRead);
    // After a seam the history holds only what came since, so the same
    // burst no longer goes on from it; what is held stays bounded.
    r.Restart();
    r.Delivered(s.data() + at, 40000);
    r.Begin();
    r.Offer(s.data() + at - 50000, 2 * capacity);
    EXPECT_EQ(r.fresh().size(), capacity);
    EXPECT_EQ(r.Decide(false).verdict, OverlapVerdict::None);
}

TEST(ReconnectOverlap, TitlesInsideTheRepeatCountOnlyWhenTheyAreNews) {
    // 1000 bytes were delivered; the new connection repeats 600 of them.
    // Its blocks come at the audio offsets it counted (1000 + its own).
    std::vector<IcyMeta> metas = {{1000 + 100, "old"},   // at 500, before the newest seen
                                  {1000 + 300, "same"},  // at 700, the newest seen
                                  {1000 + 400, "news"},  // at 800: lands at the join
                                  {1000 + 900, "next"}};  // after the repeat: at 1300
    uint64_t newest = 700;
    place_joined_titles(&metas, 1000, 600, &newest);
    ASSERT_EQ(metas.size(), 2u);
    EXPECT_EQ(metas[0].text, "news");
    EXPECT_EQ(metas[0].audio_offset, 1000u);
    EXPECT_EQ(metas[1].text, "next");
    EXPECT_EQ(metas[1].audio_offset, 1300u);
    EXPECT_EQ(newest, 1300u);
    // Before any title everything is news; nothing repeated, nothing moves.
    metas = {{1000 + 100, "first"}};
    newest = kNoTitleYet;
    place_joined_titles(&metas, 1000, 0, &newest);
    ASSERT_EQ(metas.size(), 1u);
    EXPECT_EQ(metas[0].audio_offset, 1100u);
}
