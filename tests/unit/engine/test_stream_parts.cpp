// The portable parts of a stream: what its first bytes say (rates, buffer
// sizes, the first MPEG frame behind an ID3v2 tag), the titles waiting for
// their audio, the tags handed out, the played history and output pacing.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/codec/stream_probe.h"
#include "engine/dsp/play_history.h"
#include "engine/net/pending_titles.h"
#include "engine/output/pacer.h"
#include "engine/tags.h"

using namespace engine;

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// An ID3v2.4 header announcing `body` bytes, then those bytes.
std::vector<uint8_t> id3_tag(size_t body) {
    std::vector<uint8_t> t = {'I', 'D', '3', 4, 0, 0,
                              static_cast<uint8_t>(body >> 21 & 0x7F), static_cast<uint8_t>(body >> 14 & 0x7F),
                              static_cast<uint8_t>(body >> 7 & 0x7F), static_cast<uint8_t>(body & 0x7F)};
    // The body looks like frames of audio to a careless reader.
    for (size_t i = 0; i < body; ++i) t.push_back(i % 417 == 0 ? 0xFF : 0xFB);
    return t;
}

}  // namespace

TEST(StreamProbe, RatesAreClampedBeforeAnyArithmetic) {
    EXPECT_EQ(icy_br_byte_rate("128"), 16000u);
    EXPECT_EQ(icy_br_byte_rate(" 128 "), 16000u);
    EXPECT_EQ(icy_br_byte_rate("128,64"), 16000u);
    EXPECT_EQ(icy_br_byte_rate("1"), kMinByteRate);
    EXPECT_EQ(icy_br_byte_rate("999999"), kMaxByteRate);
    for (const char* bad : {"", "abc", "-128", "1280000000000", "12 8", "0"})
        EXPECT_EQ(icy_br_byte_rate(bad), 0u) << bad;
    EXPECT_EQ(icy_br_byte_rate(nullptr), 0u);

    // A Vorbis identification header claiming 2^31-1 bits per second.
    uint8_t id[30] = {1, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0, 2, 0x44, 0xAC, 0, 0};
    const int32_t huge = 0x7FFFFFFF;
    std::memcpy(id + 20, &huge, 4);
    id[28] = 0xB8;
    id[29] = 1;
    EXPECT_EQ(vorbis_byte_rate(id, sizeof id), kMaxByteRate);
    const int32_t nominal = 96000;
    std::memcpy(id + 20, &nominal, 4);
    EXPECT_EQ(vorbis_byte_rate(id, sizeof id), 12000u);
    id[11] = 0;  // no channels: not a header we take
    EXPECT_EQ(vorbis_byte_rate(id, sizeof id), 0u);

    // The END position never exceeds what the ring holds, whatever the rate.
    for (uint32_t rate : {0u, 1u, kMinByteRate, 16000u, kMaxByteRate, 0xFFFFFFFFu}) {
        const BufferPlan plan = plan_buffer(rate, 300 * 1024);
        EXPECT_GE(plan.capacity, 300u * 1024) << rate;
        EXPECT_LE(plan.capacity, kMaxBufferBytes) << rate;
        EXPECT_LE(plan.prebuffer, plan.capacity) << rate;
        EXPECT_LE(prebuffer_wanted(plan, 1000), plan.prebuffer) << rate;
    }
    EXPECT_EQ(plan_buffer(16000, 0).prebuffer, 24000u);
    EXPECT_EQ(prebuffer_wanted(plan_buffer(16000, 0), 50), 12000u);
}

TEST(StreamProbe, FindsTheFirstFrameBehindAnId3TagOfAnySize) {
    const auto mp3 = read_file(ENGINE_FIXTURE_DIR "/tone.mp3");
    ASSERT_GT(mp3.size(), 20000u);
    // The fixture starts with its own small tag.
    for (size_t body : {0u, 14u * 1024, 64u * 1024, 200u * 1024}) {
        SCOPED_TRACE(body);
        std::vector<uint8_t> data = id3_tag(body);
        data.insert(data.end(), mp3.begin(), mp3.end());
        ASSERT_EQ(sniff_format(data.data(), data.size(), false), StreamFormat::Mpeg);
        MpegHeader h;
        ASSERT_TRUE(probe_mpeg(data.data(), data.size(), &h));
        EXPECT_EQ(h.layer, 3);
        EXPECT_EQ(h.sample_rate, 44100);
        EXPECT_EQ(h.bitrate_kbps, 128);
        EXPECT_EQ(stream_byte_rate(StreamFormat::Mpeg, data.data(), data.size(), "64"), 16000u);
    }
    // Cut inside the tag: no frame yet, and the icy-br (or the default) serves.
    const std::vector<uint8_t> cut = id3_tag(64 * 1024);
    EXPECT_FALSE(probe_mpeg(cut.data(), cut.size(), nullptr));
    EXPECT_EQ(stream_byte_rate(StreamFormat::Mpeg, cut.data(), cut.size(), "64"), 8000u);
    EXPECT_EQ(stream_byte_rate(StreamFormat::Mpeg, cut.data(), cut.size(), nullptr), kDefaultByteRate);
}

TEST(PendingTitles, RepeatsDropAndTitlesDueTogetherBecomeTheNewest) {
    PendingTitles t;
    std::vector<IcyMeta> m = {{100, "A"}, {200, "A"}, {300, "B"}, {400, "C"}};
    t.Add(&m);
    EXPECT_TRUE(m.empty());
    std::string text;
    EXPECT_FALSE(t.TakeDue(99, &text));
    ASSERT_TRUE(t.TakeDue(100, &text));
    EXPECT_EQ(text, "A");
    ASSERT_TRUE(t.TakeDue(450, &text));
    EXPECT_EQ(text, "C") << "B and C were due together";
    EXPECT_FALSE(t.TakeDue(10000, &text));

    // A flood fills the queue; the titles due first still come, in order,
    // and none comes before its audio.
    for (uint64_t i = 0; i < 10 * kMaxPendingTitles; ++i) {
        std::vector<IcyMeta> one = {{1000 + i * 10, "T" + std::to_string(i)}};
        t.Add(&one);
    }
    ASSERT_TRUE(t.TakeDue(1000, &text));
    EXPECT_EQ(text, "T0");
    ASSERT_TRUE(t.TakeDue(1015, &text));
    EXPECT_EQ(text, "T1");
    // Kept while full: the oldest ones, and the newest in place of the ones
    // between.
    ASSERT_TRUE(t.TakeDue(1000 + (kMaxPendingTitles - 2) * 10, &text));
    EXPECT_EQ(text, "T" + std::to_string(kMaxPendingTitles - 2));
    EXPECT_FALSE(t.TakeDue(1000 + (10 * kMaxPendingTitles - 2) * 10, &text));
    ASSERT_TRUE(t.TakeDue(1000 + (10 * kMaxPendingTitles - 1) * 10, &text));
    EXPECT_EQ(text, "T" + std::to_string(10 * kMaxPendingTitles - 1));
}

TEST(TagStore, TextHandedOutStaysUntilTheSameReaderAsksAgain) {
    TagStore tags;
    EXPECT_EQ(tags.Read(TagKind::Meta, 1), nullptr);
    EXPECT_EQ(tags.Read(TagKind::Icy, 1), nullptr);
    tags.SetHead(TagKind::Icy, {"ICY 200 OK", "icy-name:Test"});
    const char* head = tags.Read(TagKind::Icy, 1);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(std::string(head, 11), std::string("ICY 200 OK\0", 11));
    EXPECT_EQ(tags.Read(TagKind::Http, 1), nullptr);

    tags.SetMeta("StreamTitle='One';");
    const char* one = tags.Read(TagKind::Meta, 1);
    const char* other = tags.Read(TagKind::Meta, 2);
    for (int i = 0; i < 1000; ++i) tags.SetMeta("StreamTitle='Title number " + std::to_string(i) + "';");
    EXPECT_STREQ(one, "StreamTitle='One';");
    EXPECT_STREQ(other, "StreamTitle='One';");
    EXPECT_STREQ(tags.Read(TagKind::Meta, 1), "StreamTitle='Title number 999';");
    EXPECT_STREQ(other, "StreamTitle='One';") << "another reader's text is not touched";
    EXPECT_TRUE(tags.MetaIs("StreamTitle='Title number 999';"));

    tags.SetOgg({"TITLE=a", "ARTIST=b"});
    const char* ogg = tags.Read(TagKind::Ogg, 1);
    EXPECT_EQ(std::string(ogg, 18), std::string("TITLE=a\0ARTIST=b\0\0", 18));
    EXPECT_STREQ(tags.Read(TagKind::Meta, 1), "StreamTitle='Title number 999';") << "kinds are kept apart";
    EXPECT_EQ(std::string(ogg, 7), "TITLE=a");
}

TEST(PlayHistory, ReadsWhatWasPlayedAndSilenceAroundIt) {
    PlayHistory h;
    std::vector<float> block(2 * 1000);
    for (size_t i = 0; i < 1000; ++i) block[2 * i] = block[2 * i + 1] = static_cast<float>(i + 1);
    h.Push(block.data(), 1000, 500);  // device frames 500..1499
    std::vector<float> out(2 * 10);
    h.Copy(505, 10, out.data());  // frames 495..504
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[2 * 4], 0.0f);
    EXPECT_EQ(out[2 * 5], 1.0f);
    EXPECT_EQ(out[2 * 9 + 1], 5.0f);
    h.Copy(1600, 10, out.data());  // not played yet
    EXPECT_EQ(out[0], 0.0f);
    // Far more than it keeps: the newest part stays, wrapped around.
    std::vector<float> big(2 * (kHistoryFrames + 5000), 0.5f);
    big[2 * (kHistoryFrames + 4999)] = 0.25f;
    h.Push(big.data(), kHistoryFrames + 5000, 2000);
    const uint64_t end = 2000 + kHistoryFrames + 5000;
    h.Copy(end, 2, out.data());
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[2], 0.25f);
    h.Copy(end - kHistoryFrames, 1, out.data());  // just too old
    EXPECT_EQ(out[0], 0.0f);
}

TEST(OutputPacer, HoldsAnOutputThatRunsAheadOfTheClockAndLeavesARealOneAlone) {
    constexpr int64_t kTicks = 1000000;  // microseconds
    constexpr int kRate = 44100;
    constexpr uint64_t kPeriod = 441;
    // A device at real time: periods every 10 ms, never a wait.
    OutputPacer real(kTicks, kRate);
    for (int i = 1; i <= 300; ++i) EXPECT_EQ(real.After(kPeriod, i * 10000), 0u) << i;
    EXPECT_FALSE(real.unclocked());
    // A sink that takes a period every 2.5 ms: after a second of that it is
    // paced, to about kMaxAheadMs ahead of the wall clock.
    // It stays paced: 40 s of periods take 36 s at least (the first second
    // runs free, with 4 s of them), not a second paced and a second free by
    // turns.
    OutputPacer fast(kTicks, kRate);
    int64_t now = 0;
    uint32_t wait = 0;
    for (int i = 0; i < 4000; ++i) {
        now += 2500 + static_cast<int64_t>(wait) * 1000;
        wait = fast.After(kPeriod, now);
    }
    EXPECT_TRUE(fast.unclocked());
    EXPECT_GT(wait, 0u);
    EXPECT_LE(wait, 10u);
    EXPECT_GE(now, 36 * kTicks);
    fast.Reset();
    EXPECT_FALSE(fast.unclocked());
}
