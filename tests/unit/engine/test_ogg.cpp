#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "engine/codec/format_sniffer.h"
#include "engine/codec/ogg_page.h"
#include "engine/codec/ogg_stream.h"
#include "engine/codec/opus_header.h"
#include "engine/codec/vorbis_codec.h"
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

// A page of the given lacing and body, its checksum right.
std::vector<uint8_t> page_of(uint8_t type, uint32_t serial, uint32_t seq, int64_t granule,
                             const std::vector<uint8_t>& lacing, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> p(27, 0);
    std::memcpy(p.data(), "OggS", 4);
    p[5] = type;
    for (int i = 0; i < 8; ++i) p[6 + i] = static_cast<uint8_t>(static_cast<uint64_t>(granule) >> (8 * i));
    put_le32(&p[14], serial);
    put_le32(&p[18], seq);
    p[26] = static_cast<uint8_t>(lacing.size());
    p.insert(p.end(), lacing.begin(), lacing.end());
    p.insert(p.end(), body.begin(), body.end());
    put_le32(&p[22], ogg_page_checksum(p.data(), p.size()));
    return p;
}

// A page carrying `segments` (each a lacing value) of body bytes `fill`.
std::vector<uint8_t> make_page(uint8_t type, uint32_t serial, uint32_t seq,
                               const std::vector<uint8_t>& lacing, uint8_t fill = 0xAB) {
    size_t body = 0;
    for (uint8_t l : lacing) body += l;
    return page_of(type, serial, seq, int64_t(seq) * 1000, lacing, std::vector<uint8_t>(body, fill));
}

// A page holding one whole packet (less than 255 * 255 bytes).
std::vector<uint8_t> packet_page(uint8_t type, uint32_t serial, uint32_t seq, const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> lacing(packet.size() / 255, 255);
    lacing.push_back(static_cast<uint8_t>(packet.size() % 255));
    return page_of(type, serial, seq, 0, lacing, packet);
}

// A whole stream decoded, fed in random pieces and read in random amounts:
// the audio of each logical stream (interleaved, as channels() said) and
// the changes that started them.
struct Decoded {
    std::vector<OggChange> changes;
    std::vector<std::vector<float>> parts;
    bool failed = false;
    size_t frames(size_t part) const { return parts[part].size() / changes[part].channels; }
};

Decoded decode_all(const std::vector<uint8_t>& data, unsigned seed) {
    OggStream v;
    std::mt19937 rng(seed);
    Decoded d;
    std::vector<float> buf(4096 * kOggOutChannels);
    size_t at = 0;
    for (int idle = 0; idle < 3;) {
        if (at < data.size()) at += v.push(data.data() + at, std::min<size_t>(rng() % 3000 + 1, data.size() - at));
        const size_t n = v.decode(buf.data(), rng() % 4096 + 1);
        OggChange c;
        while (v.take_change(&c)) {
            d.changes.push_back(c);
            d.parts.emplace_back();
        }
        if (n) {
            EXPECT_FALSE(d.parts.empty()) << "audio before any stream began";
            if (d.parts.empty()) break;
            EXPECT_EQ(v.channels(), d.changes.back().channels);
            d.parts.back().insert(d.parts.back().end(), buf.begin(), buf.begin() + n * v.channels());
            idle = 0;
        } else if (at >= data.size()) {
            ++idle;
        }
    }
    d.failed = v.failed();
    return d;
}

bool has_comment(const OggChange& c, const std::string& comment) {
    return std::find(c.comments.begin(), c.comments.end(), comment) != c.comments.end();
}

// Root mean square of one channel of interleaved samples.
double rms(const std::vector<float>& s, size_t channels, size_t channel) {
    double sum = 0;
    for (size_t i = channel; i < s.size(); i += channels) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(s.size() / channels));
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

TEST(OggComments, VorbisAndOpusCommentHeadersAreParsedAndBounded) {
    // The same list behind either codec's magic (Vorbis adds a framing bit).
    using Parse = bool (*)(const uint8_t*, size_t, std::string*, std::vector<std::string>*);
    const struct {
        std::string magic;
        Parse parse;
    } codecs[] = {{std::string("\x03vorbis", 7), parse_vorbis_comments}, {"OpusTags", parse_opus_tags}};
    for (const auto& codec : codecs) {
        SCOPED_TRACE(codec.magic.substr(1));
        std::vector<uint8_t> h(codec.magic.begin(), codec.magic.end());
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
        ASSERT_TRUE(codec.parse(h.data(), h.size(), &vendor, &comments));
        EXPECT_EQ(vendor, "vendor");
        EXPECT_EQ(comments, (std::vector<std::string>{"TITLE=Song", "artist=Band"}));
        // Every truncation fails cleanly instead of reading past the packet.
        for (size_t n = 0; n + 1 < h.size(); ++n) EXPECT_FALSE(codec.parse(h.data(), n, &vendor, &comments)) << n;
        // A count far beyond the data.
        std::vector<uint8_t> lying(h.begin(), h.begin() + codec.magic.size() + 4 + 6);
        put_le32(count, 0xFFFFFFFFu);
        lying.insert(lying.end(), count, count + 4);
        EXPECT_FALSE(codec.parse(lying.data(), lying.size(), &vendor, &comments));
        // The other codec's magic is not this one's.
        h[1] ^= 0x20;
        EXPECT_FALSE(codec.parse(h.data(), h.size(), &vendor, &comments));
    }
}

TEST(VorbisStream, ChainedStreamDecodesAndReportsTheCommentChange) {
    auto data = read_file(ENGINE_FIXTURE_DIR "/a.ogg");
    const auto second = read_file(ENGINE_FIXTURE_DIR "/b.ogg");
    ASSERT_FALSE(data.empty());
    ASSERT_FALSE(second.empty());
    data.insert(data.end(), second.begin(), second.end());

    const Decoded d = decode_all(data, 4);
    ASSERT_FALSE(d.failed);
    ASSERT_EQ(d.changes.size(), 2u);
    EXPECT_EQ(d.changes[0].at_frame, 0u);
    EXPECT_EQ(d.changes[0].sample_rate, 44100);
    EXPECT_EQ(d.changes[0].channels, 2);
    EXPECT_TRUE(has_comment(d.changes[0], "title=First Title"));
    EXPECT_TRUE(has_comment(d.changes[0], "artist=First Artist"));
    EXPECT_EQ(d.changes[1].sample_rate, 22050);
    EXPECT_EQ(d.changes[1].channels, 1);
    EXPECT_TRUE(has_comment(d.changes[1], "title=Second Title"));
    EXPECT_TRUE(has_comment(d.changes[1], "GENRE=Test"));
    // The change takes effect where the first stream's audio ends.
    EXPECT_EQ(d.changes[1].at_frame, d.frames(0));
    EXPECT_NEAR(static_cast<double>(d.frames(0)), 44100.0, 2048.0);
    EXPECT_NEAR(static_cast<double>(d.frames(1)), 11025.0, 2048.0);
    // And it is the audio that was encoded.
    EXPECT_NEAR(engine_test::tone_frequency(d.parts[0].data() + 8000, 30000, 2, 44100), 440.0, 1.0);
    EXPECT_NEAR(engine_test::tone_frequency(d.parts[1].data() + 2000, 8000, 1, 22050), 1000.0, 2.0);
}

TEST(VorbisStream, NonVorbisInputFailsOrWaits) {
    OggStream v;
    std::vector<float> buf(1024);
    // An Ogg stream of another codec: pages are fine, but nothing is Vorbis
    // or Opus.
    for (uint32_t s = 0; s < 20; ++s) {
        const auto page = make_page(0x02, s, 0, {8});
        v.push(page.data(), page.size());
        EXPECT_EQ(v.decode(buf.data(), 512), 0u);
    }
    EXPECT_TRUE(v.failed());
    EXPECT_FALSE(v.ready());

    // Every stream of a group starts before the first page of data: once
    // that comes, none of ours will.
    OggStream other;
    for (const auto& page : {make_page(0x02, 1, 0, {8}), make_page(0x02, 2, 0, {8}), make_page(0x00, 1, 1, {100})}) {
        EXPECT_FALSE(other.failed());
        other.push(page.data(), page.size());
        EXPECT_EQ(other.decode(buf.data(), 512), 0u);
    }
    EXPECT_TRUE(other.failed());

    // Joined in the middle: pages, but never the start of a stream.
    OggStream joined;
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
        OggStream v;
        std::vector<float> buf(512 * kOggOutChannels, 1.0f);
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
        OggChange change;
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

namespace {

// An OpusHead: version, channels, pre-skip 312, input rate 44100, output
// gain, mapping family, and for family 1 the stream counts and table.
std::vector<uint8_t> opus_head(uint8_t version, uint8_t channels, uint8_t family,
                               const std::vector<uint8_t>& table = {}, int16_t gain = 0) {
    std::vector<uint8_t> h = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', version, channels, 312 & 0xFF, 312 >> 8,
                              0, 0, 0, 0, static_cast<uint8_t>(gain), static_cast<uint8_t>(uint16_t(gain) >> 8),
                              family};
    put_le32(&h[12], 44100);
    h.insert(h.end(), table.begin(), table.end());
    return h;
}

std::vector<uint8_t> fixture(const char* name) {
    const auto data = read_file(std::string(ENGINE_FIXTURE_DIR "/") + name);
    EXPECT_GT(data.size(), 1000u) << name;
    return data;
}

}  // namespace

TEST(OpusHeader, HeadsAndPacketLengthsAreCheckedBeforeTheDecoder) {
    OpusHead h;
    ASSERT_TRUE(parse_opus_head(opus_head(1, 2, 0, {}, -256).data(), kOpusHeadBytes, &h));
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.pre_skip, 312u);
    EXPECT_EQ(h.input_rate, 44100u);
    EXPECT_EQ(h.output_gain, -256);
    EXPECT_EQ(h.streams, 1);
    EXPECT_EQ(h.coupled, 1);
    // 5.1 as opusenc lays it out: four streams, two of them stereo.
    const auto surround = opus_head(1, 6, 1, {4, 2, 0, 4, 1, 2, 3, 5});
    ASSERT_TRUE(parse_opus_head(surround.data(), surround.size(), &h));
    EXPECT_EQ(h.streams, 4);
    EXPECT_EQ(h.coupled, 2);
    EXPECT_EQ(h.mapping[1], 4);
    for (size_t n = 0; n < surround.size(); ++n) EXPECT_FALSE(parse_opus_head(surround.data(), n, &h)) << n;

    const struct {
        const char* name;
        std::vector<uint8_t> head;
        bool ok;
    } cases[] = {
        {"version 15 reads as 1", opus_head(15, 1, 0), true},
        {"a silent channel", opus_head(1, 3, 1, {2, 1, 0, 255, 2}), true},
        {"version 16: a new major version", opus_head(16, 2, 0), false},
        {"no channels", opus_head(1, 0, 0), false},
        {"family 0 with three channels", opus_head(1, 3, 0), false},
        {"family 1 with nine channels", opus_head(1, 9, 1, {9, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}), false},
        {"no streams", opus_head(1, 1, 1, {0, 0, 255}), false},
        {"more coupled than streams", opus_head(1, 2, 1, {1, 2, 0, 1}), false},
        {"more streams than channels", opus_head(1, 2, 1, {3, 0, 0, 1}), false},
        {"a channel of a stream not there", opus_head(1, 2, 1, {1, 1, 0, 2}), false},
        {"ambisonics", opus_head(1, 4, 2, {4, 0, 0, 1, 2, 3}), false},
        {"undefined channels", opus_head(1, 2, 255, {2, 0, 0, 1}), false},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_opus_head(c.head.data(), c.head.size(), &h), c.ok) << c.name;
    auto wrong = opus_head(1, 2, 0);
    wrong[4] = 'T';
    EXPECT_FALSE(parse_opus_head(wrong.data(), wrong.size(), &h));

    // Frames at 48 kHz by the table of contents: configuration, then code
    // 0 (one frame), 1 and 2 (two), 3 (a count in the next byte).
    const struct {
        std::vector<uint8_t> packet;
        size_t frames;
    } packets[] = {
        {{0 << 3 | 0, 1}, 480},           // SILK narrowband, 10 ms
        {{3 << 3 | 1, 1, 2}, 5760},       // SILK 60 ms, two frames
        {{13 << 3 | 2, 1, 1}, 1920},      // hybrid 20 ms, two frames
        {{16 << 3 | 3, 48, 0}, 5760},     // CELT 2.5 ms, 48 frames
        {{31 << 3 | 3, 6, 0}, 5760},      // CELT 20 ms, six frames: 120 ms
        {{31 << 3 | 3, 7, 0}, 0},         // 140 ms is longer than any packet
        {{31 << 3 | 3, 0, 0}, 0},         // no frames
        {{31 << 3 | 3}, 0},               // the count missing
        {{}, 0},
    };
    for (const auto& p : packets)
        EXPECT_EQ(opus_packet_frames(p.packet.data(), p.packet.size()), p.frames) << int(p.packet.empty() ? -1 : p.packet[0]);
}

TEST(OpusStream, ChainDecodesAt48kHzWithoutPreSkipOrPaddingAndReportsItsTags) {
    auto data = fixture("a.opus");
    const auto second = fixture("b.opus");
    data.insert(data.end(), second.begin(), second.end());
    EXPECT_EQ(sniff_format(data.data(), data.size(), false), StreamFormat::Ogg);

    const Decoded d = decode_all(data, 5);
    ASSERT_FALSE(d.failed);
    ASSERT_EQ(d.changes.size(), 2u);
    EXPECT_EQ(d.changes[0].at_frame, 0u);
    EXPECT_EQ(d.changes[0].sample_rate, kOpusRate);
    EXPECT_EQ(d.changes[0].channels, 2);
    EXPECT_TRUE(has_comment(d.changes[0], "title=First Title"));
    EXPECT_TRUE(has_comment(d.changes[0], "artist=First Artist"));
    EXPECT_EQ(d.changes[1].sample_rate, kOpusRate);
    EXPECT_EQ(d.changes[1].channels, 1);
    EXPECT_TRUE(has_comment(d.changes[1], "title=Second Title"));
    EXPECT_TRUE(has_comment(d.changes[1], "GENRE=Test"));
    // The encoder's delay (pre-skip) dropped at the start and its padding
    // (beyond the last page's granule position) cut at the end: exactly the
    // second and the half second that were encoded.
    EXPECT_EQ(d.frames(0), 48000u);
    EXPECT_EQ(d.frames(1), 24000u);
    EXPECT_EQ(d.changes[1].at_frame, 48000u);
    // The tone from the very start, not the decoder's warm-up.
    const std::vector<float> start(d.parts[0].begin(), d.parts[0].begin() + 2 * 480);
    EXPECT_NEAR(rms(start, 2, 0), 0.5 / std::sqrt(2.0), 0.05);
    EXPECT_NEAR(engine_test::tone_frequency(d.parts[0].data() + 4000, 40000, 2, kOpusRate), 440.0, 1.0);
    EXPECT_NEAR(engine_test::tone_frequency(d.parts[1].data() + 2000, 20000, 1, kOpusRate), 1000.0, 2.0);

    // A chain may change codec: each logical stream is what its first packet says.
    auto mixed = read_file(ENGINE_FIXTURE_DIR "/a.ogg");
    mixed.insert(mixed.end(), second.begin(), second.end());
    const Decoded m = decode_all(mixed, 9);
    ASSERT_FALSE(m.failed);
    ASSERT_EQ(m.changes.size(), 2u);
    EXPECT_EQ(m.changes[0].sample_rate, 44100);
    EXPECT_EQ(m.changes[1].sample_rate, kOpusRate);
    EXPECT_EQ(m.frames(1), 24000u);
}

TEST(OpusStream, OutputGainIsAppliedAndSurroundIsMixedDownToStereo) {
    // The head's gain, set in the first page (checksum made right again).
    const auto plain = fixture("a.opus");
    const double plain_rms = rms(decode_all(plain, 6).parts.at(0), 2, 0);
    for (const int16_t gain : {1541, -1541}) {  // Q7.8 dB: +-6.02 dB, twice and half the amplitude
        SCOPED_TRACE(gain);
        std::vector<uint8_t> data = plain;
        const size_t body = 27 + data[26];
        ASSERT_EQ(std::memcmp(&data[body], "OpusHead", 8), 0);
        data[body + 16] = static_cast<uint8_t>(gain);
        data[body + 17] = static_cast<uint8_t>(uint16_t(gain) >> 8);
        put_le32(&data[22], ogg_page_checksum(data.data(), body + 19));
        const Decoded d = decode_all(data, 6);
        ASSERT_FALSE(d.failed);
        ASSERT_EQ(d.parts.size(), 1u);
        EXPECT_NEAR(rms(d.parts[0], 2, 0) / plain_rms, gain > 0 ? 2.0 : 0.5, 0.02);
    }

    // 5.1 with a 660 Hz tone in front right and a 440 Hz one in rear left:
    // each lands on its own side, at its share of the side's mix. Vorbis
    // shares the channel order and the mix.
    for (const char* name : {"six.opus", "six.ogg"}) {
        SCOPED_TRACE(name);
        const Decoded d = decode_all(fixture(name), 7);
        ASSERT_FALSE(d.failed);
        ASSERT_EQ(d.changes.size(), 1u);
        EXPECT_EQ(d.changes[0].channels, 2);
        ASSERT_NEAR(static_cast<double>(d.frames(0)), 48000.0, 2048.0);
        EXPECT_NEAR(engine_test::tone_frequency(d.parts[0].data() + 8000, 30000, 2, 48000), 440.0, 1.0);
        EXPECT_NEAR(engine_test::tone_frequency(d.parts[0].data() + 8001, 30000, 2, 48000), 660.0, 1.0);
        const double side = 1 + 2 * 0.70710678;  // front, centre and surround of one side
        EXPECT_NEAR(rms(d.parts[0], 2, 0), 0.5 / std::sqrt(2.0) * 0.70710678 / side, 0.01);
        EXPECT_NEAR(rms(d.parts[0], 2, 1), 0.5 / std::sqrt(2.0) / side, 0.01);
    }
    // Every layout keeps full scale in every channel within full scale.
    for (int channels = 3; channels <= kOggMaxChannels; ++channels) {
        const std::vector<float> loud(static_cast<size_t>(channels), 1.0f);
        float out[2];
        downmix_to_stereo(loud.data(), 1, channels, out);
        EXPECT_NEAR(out[0], 1.0f, 1e-6f) << channels;
        EXPECT_NEAR(out[1], 1.0f, 1e-6f) << channels;
    }
}

TEST(OpusStream, StreamsWeCannotPlayAreRefusedBeforeTheDecoder) {
    std::vector<uint8_t> tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 1, 0, 0, 0, 'v', 0, 0, 0, 0};
    const struct {
        const char* name;
        std::vector<uint8_t> head, second;
    } cases[] = {
        {"ambisonics", opus_head(1, 4, 2, {4, 0, 0, 1, 2, 3}), tags},
        {"a channel of a stream not there", opus_head(1, 2, 1, {1, 1, 0, 2}), tags},
        {"audio where the tags belong", opus_head(1, 2, 0), {31 << 3, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> data = packet_page(0x02, 9, 0, c.head);
        const auto next = packet_page(0x00, 9, 1, c.second);
        data.insert(data.end(), next.begin(), next.end());
        const Decoded d = decode_all(data, 8);
        EXPECT_TRUE(d.failed);
        EXPECT_TRUE(d.changes.empty());
    }
}
