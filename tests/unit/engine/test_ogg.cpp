#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "engine/codec/ogg_page.h"
#include "engine/codec/vorbis_stream.h"
#include "tone.h"

using namespace engine;

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A page carrying `segments` (each a lacing value) of body bytes `fill`.
std::vector<uint8_t> make_page(uint8_t type, uint32_t serial, uint32_t seq,
                               const std::vector<uint8_t>& lacing, uint8_t fill = 0xAB) {
    std::vector<uint8_t> p(27, 0);
    std::memcpy(p.data(), "OggS", 4);
    p[5] = type;
    for (int i = 0; i < 8; ++i) p[6 + i] = static_cast<uint8_t>(uint64_t(seq) * 1000 >> (8 * i));
    put_le32(&p[14], serial);
    put_le32(&p[18], seq);
    p[26] = static_cast<uint8_t>(lacing.size());
    p.insert(p.end(), lacing.begin(), lacing.end());
    size_t body = 0;
    for (uint8_t l : lacing) body += l;
    p.insert(p.end(), body, fill);
    put_le32(&p[22], ogg_page_checksum(p.data(), p.size()));
    return p;
}

std::vector<OggPacket> assemble(const std::vector<std::vector<uint8_t>>& pages) {
    OggPacketAssembler a;
    std::vector<OggPacket> out;
    for (const auto& raw : pages) {
        OggPageReader r;
        r.push(raw.data(), raw.size());
        OggPage page;
        EXPECT_TRUE(r.next_page(&page));
        a.add_page(page, &out);
    }
    return out;
}

}  // namespace

TEST(OggPage, ReadsEncoderOutputAndSkipsDamage) {
    const auto file = read_file(ENGINE_FIXTURE_DIR "/a.ogg");
    ASSERT_GT(file.size(), 1000u);
    // Garbage in front, one damaged copy of the first page, then the file.
    std::vector<uint8_t> data = {'x', 'O', 'g', 'g', 'O', 'g', 'g', 'S', 0, 0};
    size_t first_page = 27 + file[26];
    for (size_t i = 0; i < file[26]; ++i) first_page += file[27 + i];
    std::vector<uint8_t> damaged(file.begin(), file.begin() + first_page);
    damaged[first_page - 3] ^= 1;
    data.insert(data.end(), damaged.begin(), damaged.end());
    data.insert(data.end(), file.begin(), file.end());

    std::mt19937 rng(9);
    OggPageReader r;
    size_t at = 0, pages = 0, body = 0;
    int bos = 0, eos = 0;
    int64_t last_granule = -1;
    for (;;) {
        if (at < data.size()) at += r.push(data.data() + at, std::min<size_t>(rng() % 4000 + 1, data.size() - at));
        OggPage p;
        bool any = false;
        while (r.next_page(&p)) {
            any = true;
            ++pages;
            body += p.body_size;
            bos += p.bos();
            eos += p.eos();
            EXPECT_EQ(p.serial, 11u);
            EXPECT_EQ(p.sequence, pages - 1) << "pages in order from the first";
            last_granule = p.granule;
        }
        if (!any && at >= data.size()) break;
    }
    EXPECT_GE(pages, 3u);
    EXPECT_EQ(bos, 1);
    EXPECT_EQ(eos, 1);
    EXPECT_EQ(last_granule, 44100) << "granule of the last page is the sample count";
    EXPECT_EQ(r.skipped_bytes(), 10u + first_page);
}

TEST(OggPage, PacketsSpanPagesAndLossDropsOnlyTheBrokenPacket) {
    // Packet A: 300 bytes over pages 0-1; B: 10 bytes; C: 255 bytes (needs a 0 lacing).
    const auto p0 = make_page(0x02, 5, 0, {255}, 0xA1);
    const auto p1 = make_page(0x01, 5, 1, {45, 10, 255, 0}, 0xB2);
    auto packets = assemble({p0, p1});
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].data.size(), 300u);
    EXPECT_TRUE(packets[0].first);
    EXPECT_EQ(packets[0].data[0], 0xA1);
    EXPECT_EQ(packets[0].data[299], 0xB2);
    EXPECT_EQ(packets[1].data.size(), 10u);
    EXPECT_FALSE(packets[1].first);
    EXPECT_EQ(packets[2].data.size(), 255u);
    EXPECT_EQ(packets[2].granule, 1000);
    EXPECT_EQ(packets[0].granule, -1);

    // Page 1 lost: the packet started on page 0 and continued on page 2 is gone,
    // the packet after it survives.
    const auto p2 = make_page(0x05, 5, 2, {255, 20, 30});
    packets = assemble({p0, p2});
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].data.size(), 30u);
    EXPECT_TRUE(packets[0].last) << "ends on the EOS page";

    // A continued page without its start (joined mid-stream) and a page that
    // says "not continued" while a packet is open.
    packets = assemble({make_page(0x01, 5, 7, {100, 7}), make_page(0x00, 5, 8, {255}),
                        make_page(0x00, 5, 9, {3})});
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].data.size(), 7u);
    EXPECT_EQ(packets[1].data.size(), 3u);
}

TEST(VorbisComments, ParsesAndBoundsTheCommentHeader) {
    std::vector<uint8_t> h = {3, 'v', 'o', 'r', 'b', 'i', 's'};
    auto add_string = [&h](const std::string& s) {
        uint8_t len[4];
        put_le32(len, static_cast<uint32_t>(s.size()));
        h.insert(h.end(), len, len + 4);
        h.insert(h.end(), s.begin(), s.end());
    };
    add_string("vendor");
    uint8_t count[4];
    put_le32(count, 2);
    h.insert(h.end(), count, count + 4);
    add_string("TITLE=Song");
    add_string("artist=Band");
    h.push_back(1);
    std::string vendor;
    std::vector<std::string> comments;
    ASSERT_TRUE(parse_vorbis_comments(h.data(), h.size(), &vendor, &comments));
    EXPECT_EQ(vendor, "vendor");
    EXPECT_EQ(comments, (std::vector<std::string>{"TITLE=Song", "artist=Band"}));
    // Every truncation fails cleanly instead of reading past the packet.
    for (size_t n = 0; n + 1 < h.size(); ++n)
        EXPECT_FALSE(parse_vorbis_comments(h.data(), n, &vendor, &comments)) << n;
    // A count far beyond the data.
    std::vector<uint8_t> lying(h.begin(), h.begin() + 7 + 4 + 6);
    put_le32(count, 0xFFFFFFFFu);
    lying.insert(lying.end(), count, count + 4);
    EXPECT_FALSE(parse_vorbis_comments(lying.data(), lying.size(), &vendor, &comments));
}

TEST(VorbisStream, ChainedStreamDecodesAndReportsTheCommentChange) {
    auto data = read_file(ENGINE_FIXTURE_DIR "/a.ogg");
    const auto second = read_file(ENGINE_FIXTURE_DIR "/b.ogg");
    ASSERT_FALSE(data.empty());
    ASSERT_FALSE(second.empty());
    data.insert(data.end(), second.begin(), second.end());

    VorbisStream v;
    std::mt19937 rng(4);
    std::vector<float> part[2];  // decoded audio of each logical stream
    int rate[2] = {0, 0}, channels[2] = {0, 0};
    std::vector<VorbisChange> changes;
    size_t at = 0;
    std::vector<float> buf(4096 * 2);
    for (int idle = 0; idle < 3;) {
        if (at < data.size()) at += v.push(data.data() + at, std::min<size_t>(rng() % 3000 + 1, data.size() - at));
        const size_t max = rng() % 4096 + 1;
        const size_t n = v.decode(buf.data(), max);
        VorbisChange c;
        while (v.take_change(&c)) changes.push_back(c);
        if (n) {
            const int k = changes.size() > 1 ? 1 : 0;
            rate[k] = v.sample_rate();
            channels[k] = v.channels();
            part[k].insert(part[k].end(), buf.begin(), buf.begin() + n * v.channels());
            idle = 0;
        } else if (at >= data.size()) {
            ++idle;
        }
    }
    ASSERT_FALSE(v.failed());
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].at_frame, 0u);
    EXPECT_EQ(changes[0].sample_rate, 44100);
    EXPECT_EQ(changes[0].channels, 2);
    EXPECT_NE(std::find(changes[0].comments.begin(), changes[0].comments.end(), "title=First Title"),
              changes[0].comments.end());
    EXPECT_NE(std::find(changes[0].comments.begin(), changes[0].comments.end(), "artist=First Artist"),
              changes[0].comments.end());
    EXPECT_EQ(changes[1].sample_rate, 22050);
    EXPECT_EQ(changes[1].channels, 1);
    EXPECT_NE(std::find(changes[1].comments.begin(), changes[1].comments.end(), "title=Second Title"),
              changes[1].comments.end());
    EXPECT_NE(std::find(changes[1].comments.begin(), changes[1].comments.end(), "GENRE=Test"),
              changes[1].comments.end());
    // The change takes effect where the first stream's audio ends.
    EXPECT_EQ(changes[1].at_frame, part[0].size() / 2);
    EXPECT_NEAR(static_cast<double>(part[0].size() / 2), 44100.0, 2048.0);
    EXPECT_NEAR(static_cast<double>(part[1].size()), 11025.0, 2048.0);
    EXPECT_EQ(rate[0], 44100);
    EXPECT_EQ(channels[1], 1);
    // And it is the audio that was encoded.
    EXPECT_NEAR(engine_test::tone_frequency(part[0].data() + 8000, 30000, 2, 44100), 440.0, 1.0);
    EXPECT_NEAR(engine_test::tone_frequency(part[1].data() + 2000, 8000, 1, 22050), 1000.0, 2.0);
}

TEST(VorbisStream, NonVorbisInputFailsOrWaits) {
    VorbisStream v;
    std::vector<float> buf(1024);
    // An Ogg stream of another codec: pages are fine, but nothing is Vorbis.
    for (uint32_t s = 0; s < 20; ++s) {
        const auto page = make_page(0x02, s, 0, {8});
        v.push(page.data(), page.size());
        EXPECT_EQ(v.decode(buf.data(), 512), 0u);
    }
    EXPECT_TRUE(v.failed());
    EXPECT_FALSE(v.ready());

    // Joined in the middle: pages, but never the start of a stream.
    VorbisStream joined;
    for (uint32_t seq = 10; seq < 80 && !joined.failed(); ++seq) {
        const auto page = make_page(0x00, 3, seq, {200, 100});
        joined.push(page.data(), page.size());
        EXPECT_EQ(joined.decode(buf.data(), 512), 0u);
    }
    EXPECT_TRUE(joined.failed());
}

TEST(VorbisStream, CraftedStreamsAreRefusedOrDecodedWithoutFault) {
    // Built by crafted_vorbis.py: two legal streams of silence and hostile
    // headers shaped like publicly reported decoder crashes.
    struct Case {
        const char* name;
        bool legal;
    } cases[] = {
        {"valid-minimal", true},
        {"sixteen-submaps", true},
        {"comment-count-overflow", false},
        {"vendor-length-wrap", false},
        {"floor-index-past-the-floors", false},
        {"residue-index-past-the-residues", false},
        {"codebook-dimension-zero-lookup", false},
        {"channels-zero", false},
    };
    // 40 short-block packets of 256 samples: the first gives none, each next one 128.
    constexpr size_t kLegalFrames = 39 * 128;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto data = read_file(std::string(ENGINE_FIXTURE_DIR "/crafted/") + c.name + ".ogg");
        ASSERT_GT(data.size(), 100u);
        VorbisStream v;
        std::vector<float> buf(512 * kVorbisMaxChannels, 1.0f);
        size_t at = 0, frames = 0;
        float loudest = 0;
        for (int idle = 0; idle < 3 && !v.failed();) {
            if (at < data.size()) at += v.push(data.data() + at, std::min<size_t>(97, data.size() - at));
            const size_t n = v.decode(buf.data(), 512);
            for (size_t i = 0; i < n * static_cast<size_t>(v.channels()); ++i)
                loudest = std::max(loudest, std::fabs(buf[i]));
            frames += n;
            idle = n == 0 && at >= data.size() ? idle + 1 : 0;
        }
        VorbisChange change;
        if (c.legal) {
            EXPECT_FALSE(v.failed());
            EXPECT_TRUE(v.ready());
            EXPECT_EQ(frames, kLegalFrames);
            EXPECT_EQ(loudest, 0.0f) << "every floor is unused: silence";
            ASSERT_TRUE(v.take_change(&change));
            EXPECT_EQ(change.sample_rate, 8000);
            EXPECT_EQ(change.comments, std::vector<std::string>{"TITLE=Crafted"});
        } else {
            EXPECT_TRUE(v.failed());
            EXPECT_FALSE(v.ready());
            EXPECT_EQ(frames, 0u);
            EXPECT_FALSE(v.take_change(&change));
        }
    }
}
