#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/net/icy_demux.h"

using namespace engine;

namespace {

struct Stream {
    std::string wire;   // what the server sends
    std::string audio;  // the audio in it
    std::vector<IcyMeta> metas;
};

// Builds a stream with metadata every `metaint` audio bytes; block i carries
// texts[i % texts.size()] ("" gives a length byte of 0).
Stream make_stream(uint32_t metaint, size_t blocks, const std::vector<std::string>& texts) {
    Stream s;
    std::mt19937 rng(1);
    for (size_t b = 0; b < blocks; ++b) {
        std::string audio(metaint, '\0');
        for (char& c : audio) c = static_cast<char>(rng());
        s.wire += audio;
        s.audio += audio;
        const std::string& t = texts[b % texts.size()];
        const size_t units = (t.size() + 15) / 16;
        s.wire += static_cast<char>(units);
        std::string block = t;
        block.resize(units * 16, '\0');
        s.wire += block;
        if (!t.empty()) s.metas.push_back(IcyMeta{s.audio.size(), t});
    }
    return s;
}

void demux_in_pieces(const Stream& s, uint32_t metaint, const std::vector<size_t>& sizes) {
    IcyDemux d(metaint);
    std::string audio;
    std::vector<IcyMeta> metas;
    size_t at = 0, k = 0;
    while (at < s.wire.size()) {
        const size_t n = std::min(sizes[k++ % sizes.size()], s.wire.size() - at);
        std::string piece = s.wire.substr(at, n);
        // In place, as the download thread uses it.
        uint8_t* buf = reinterpret_cast<uint8_t*>(&piece[0]);
        const size_t got = d.feed(buf, n, buf, &metas);
        audio.append(piece, 0, got);
        at += n;
    }
    ASSERT_EQ(audio, s.audio);
    ASSERT_EQ(metas.size(), s.metas.size());
    for (size_t i = 0; i < metas.size(); ++i) {
        EXPECT_EQ(metas[i].text, s.metas[i].text) << i;
        EXPECT_EQ(metas[i].audio_offset, s.metas[i].audio_offset) << i;
    }
    EXPECT_FALSE(d.inside_block());
    EXPECT_EQ(d.audio_bytes(), s.audio.size());
}

}  // namespace

TEST(IcyDemux, ByteByByteAndRandomSplitsGiveTheSameResult) {
    const std::vector<std::string> texts = {
        "StreamTitle='First';",
        "",  // length byte 0: nothing to report
        std::string(255 * 16, 'x'),  // the largest block
        "StreamTitle='Exactly sixteen!';"  // 32 bytes, no padding NUL
    };
    for (uint32_t metaint : {1u, 2u, 16u, 8192u}) {
        const Stream s = make_stream(metaint, 12, texts);
        demux_in_pieces(s, metaint, {1});
        std::mt19937 rng(metaint);
        std::vector<size_t> sizes;
        for (int i = 0; i < 50; ++i) sizes.push_back(rng() % 5000 + 1);
        demux_in_pieces(s, metaint, sizes);
        demux_in_pieces(s, metaint, {s.wire.size()});
    }
}

TEST(IcyDemux, BlockCutByEndOfStreamIsNotReported) {
    Stream s = make_stream(16, 2, {"StreamTitle='A';"});
    s.wire += std::string(16, 'a') + "\x02" + "StreamTitle='cut";
    IcyDemux d(16);
    std::vector<IcyMeta> metas;
    std::string out(s.wire.size(), '\0');
    const size_t n = d.feed(reinterpret_cast<const uint8_t*>(s.wire.data()), s.wire.size(),
                            reinterpret_cast<uint8_t*>(&out[0]), &metas);
    EXPECT_EQ(n, s.audio.size() + 16);
    EXPECT_EQ(metas.size(), 2u);
    EXPECT_TRUE(d.inside_block());
}

TEST(IcyDemux, ZeroIntervalPassesEverythingThrough) {
    IcyDemux d(0);
    const std::string in = "\x01StreamTitle='not metadata';";
    std::string out(in.size(), '\0');
    std::vector<IcyMeta> metas;
    EXPECT_EQ(d.feed(reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                     reinterpret_cast<uint8_t*>(&out[0]), &metas),
              in.size());
    EXPECT_EQ(out, in);
    EXPECT_TRUE(metas.empty());
}

TEST(IcyDemux, ALaterConnectionCountsOnFromTheAudioBeforeIt) {
    // metaint 4: "abcd", a block "T", "efgh"; this connection follows 1000
    // audio bytes of an earlier one.
    IcyDemux d(4, 1000);
    const std::string wire = std::string("abcd") + '\x01' + "T" + std::string(15, '\0') + "efgh";
    std::vector<uint8_t> in(wire.begin(), wire.end()), out(in.size());
    std::vector<IcyMeta> metas;
    EXPECT_EQ(d.feed(in.data(), in.size(), out.data(), &metas), 8u);
    ASSERT_EQ(metas.size(), 1u);
    EXPECT_EQ(metas[0].audio_offset, 1004u);
    EXPECT_EQ(metas[0].text, "T");
    EXPECT_EQ(d.audio_bytes(), 1008u);
}
