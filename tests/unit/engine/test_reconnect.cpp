// When a lost connection is tried again, and what a decoder's input does at
// the seam between two connections.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "engine/codec/adts.h"
#include "engine/net/reconnect.h"

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
