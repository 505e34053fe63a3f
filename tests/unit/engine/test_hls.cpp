// HLS parsers against ffmpeg's own HLS output (its ADTS copy of each
// segment's audio is what our demultiplexers must put out), and hand-built
// playlists, tags and streams for the edge cases ffmpeg does not write.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/codec/adts.h"
#include "engine/hls/fmp4.h"
#include "engine/hls/id3.h"
#include "engine/hls/m3u8.h"
#include "engine/hls/packed_audio.h"
#include "engine/hls/ts_demux.h"

using namespace engine;
using namespace engine::hls;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fixture(const std::string& name) {
    std::ifstream in(std::string(ENGINE_HLS_FIXTURE_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

M3u8Status parse(const std::string& text, M3u8* out) {
    return parse_m3u8(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
}

struct Demuxed {
    DemuxStatus status;
    SegmentOutput out;
    Bytes audio;  // all chunks joined
};

// Feeds `data` in pieces of `piece` bytes (0: at once), then ends.
Demuxed demux(SegmentDemuxer&& d, const Bytes& data, size_t piece = 0) {
    Demuxed r;
    if (piece == 0) piece = data.size() + 1;
    for (size_t at = 0; at < data.size(); at += piece)
        d.push(data.data() + at, std::min(piece, data.size() - at), &r.out);
    r.status = d.end(&r.out);
    for (const AudioChunk& c : r.out.audio) r.audio.insert(r.audio.end(), c.bytes.begin(), c.bytes.end());
    return r;
}

size_t adts_frames(const Bytes& b) {
    size_t n = 0;
    AdtsHeader h;
    for (size_t at = 0; at + kAdtsHeaderBytes <= b.size() && parse_adts_header(&b[at], &h); at += h.frame_bytes) ++n;
    return n;
}

// 90 kHz ticks of `frames` AAC frames at 44.1 kHz.
int64_t aac_ticks(size_t frames) { return static_cast<int64_t>(frames) * kAacFrameSamples * kHlsClockHz / 44100; }

// ID3v2 tags built by hand: frames of (id, body), a version, header flags.
Bytes syncsafe(size_t v) {
    return {uint8_t(v >> 21 & 0x7F), uint8_t(v >> 14 & 0x7F), uint8_t(v >> 7 & 0x7F), uint8_t(v & 0x7F)};
}
Bytes id3_frame(const char* id, const Bytes& body, int version = 4, uint8_t format = 0) {
    Bytes f(id, id + 4);
    const Bytes size = version == 4 ? syncsafe(body.size())
                                    : Bytes{0, uint8_t(body.size() >> 16), uint8_t(body.size() >> 8), uint8_t(body.size())};
    f = cat(cat(f, size), {0, format});
    return cat(f, body);
}
Bytes id3_tag(const Bytes& frames, int version = 4, uint8_t flags = 0) {
    Bytes t = {'I', 'D', '3', uint8_t(version), 0, flags};
    return cat(cat(t, syncsafe(frames.size())), frames);
}
Bytes text(uint8_t enc, const Bytes& s) { return cat({enc}, s); }
Bytes priv_timestamp(uint64_t v) {
    Bytes b = bytes(kTransportStreamTimestampOwner);
    b.push_back(0);
    for (int i = 7; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
    return id3_frame("PRIV", b);
}

// MPEG-TS built by hand: PSI sections with their CRC, PES split into packets.
void ts_packets(Bytes* ts, uint16_t pid, const Bytes& payload, int* cc) {
    for (size_t at = 0; at < payload.size() || at == 0;) {
        const size_t take = std::min(payload.size() - at, kTsPacketBytes - 4);
        Bytes p = {kTsSyncByte, uint8_t((at == 0 ? 0x40 : 0) | pid >> 8), uint8_t(pid), uint8_t(0x10 | (*cc & 15))};
        if (take < kTsPacketBytes - 4) {  // adaptation field stuffing
            p[3] |= 0x20;
            const size_t af = kTsPacketBytes - 4 - take - 1;
            p.push_back(uint8_t(af));
            if (af > 0) p.push_back(0);
            p.resize(kTsPacketBytes - take, 0xFF);
        }
        p.insert(p.end(), payload.begin() + at, payload.begin() + at + take);
        ts->insert(ts->end(), p.begin(), p.end());
        *cc += 1;
        at += take;
        if (take == 0) break;
    }
}
Bytes psi(uint8_t table, uint16_t id, const Bytes& body) {
    Bytes s = {table, 0, 0, uint8_t(id >> 8), uint8_t(id), 0xC1, 0, 0};
    s = cat(s, body);
    const size_t len = s.size() - 3 + 4;
    s[1] = uint8_t(0xB0 | len >> 8);
    s[2] = uint8_t(len);
    const uint32_t crc = mpeg_crc32(s.data(), s.size());
    s = cat(s, {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    return cat({0}, s);  // pointer field
}
Bytes pes(uint8_t stream_id, int64_t pts, const Bytes& data) {
    Bytes h = {0, 0, 1, stream_id, 0, 0, 0x80, 0x80, 5,
               uint8_t(0x21 | (pts >> 29 & 0x0E)), uint8_t(pts >> 22), uint8_t(0x01 | (pts >> 14 & 0xFE)),
               uint8_t(pts >> 7), uint8_t(0x01 | (pts << 1 & 0xFE))};
    const size_t len = h.size() - 6 + data.size();
    h[4] = uint8_t(len >> 8);
    h[5] = uint8_t(len);
    return cat(h, data);
}
constexpr uint16_t kPmtPid = 0x1000, kAudioPid = 0x100, kId3Pid = 0x101;
Bytes ts_head(uint8_t audio_type, bool with_id3) {
    Bytes ts;
    int cc0 = 0, cc1 = 0;
    ts_packets(&ts, 0, psi(0x00, 1, {0, 1, uint8_t(0xE0 | kPmtPid >> 8), uint8_t(kPmtPid)}), &cc0);
    Bytes streams = {audio_type, uint8_t(0xE0 | kAudioPid >> 8), uint8_t(kAudioPid), 0xF0, 0};
    if (with_id3) {
        // metadata_descriptor: format by identifier "ID3 ", twice, as the HLS timed metadata says.
        const Bytes d = {0x26, 13, 0xFF, 0xFF, 'I', 'D', '3', ' ', 0xFF, 'I', 'D', '3', ' ', 0, 0x0F};
        streams = cat(streams, cat({0x15, uint8_t(0xE0 | kId3Pid >> 8), uint8_t(kId3Pid), 0xF0, uint8_t(d.size())}, d));
    }
    ts_packets(&ts, kPmtPid, psi(0x02, 1, cat({0xE1, 0x00, 0xF0, 0}, streams)), &cc1);
    return ts;
}

}  // namespace

TEST(HlsPlaylist, ReadsFfmpegMediaPlaylists) {
    for (const char* name : {"ts.m3u8", "fmp4.m3u8"}) {
        SCOPED_TRACE(name);
        const Bytes b = fixture(name);
        EXPECT_TRUE(is_hls_playlist(b.data(), b.size()));
        M3u8 m;
        ASSERT_EQ(parse_m3u8(b.data(), b.size(), &m), M3u8Status::Ok);
        ASSERT_EQ(m.kind, PlaylistKindHls::Media);
        EXPECT_EQ(m.media.target_duration_s, 1u);
        EXPECT_TRUE(m.media.endlist);
        ASSERT_EQ(m.media.segments.size(), 3u);
        uint32_t total = 0;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(m.media.segments[i].sequence, i);
            EXPECT_EQ(m.media.segments[i].key, -1);
            total += m.media.segments[i].duration_ms;
        }
        EXPECT_NEAR(total, 2900, 30);
        const bool fmp4 = std::string(name) == "fmp4.m3u8";
        EXPECT_EQ(m.media.segments[1].uri, fmp4 ? "f1.m4s" : "ts1.ts");
        EXPECT_EQ(m.media.segments[2].map, fmp4 ? 0 : -1);
        if (fmp4) {
            EXPECT_EQ(m.media.maps.at(0).uri, "init.mp4");
        }
    }
}

TEST(HlsPlaylist, MediaTagsAndTheirEdgeCases) {
    const std::string text =
        "\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-VERSION:4\r#EXT-X-TARGETDURATION:6\n"
        "#EXT-X-MEDIA-SEQUENCE:100\r\n#EXT-X-DISCONTINUITY-SEQUENCE:3\n# a comment\n#EXT-X-UNKNOWN:X\n"
        "#EXT-X-PLAYLIST-TYPE:VOD\n#EXT-X-PROGRAM-DATE-TIME:2024-01-01T00:00:00Z\n"
        "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n"
        "#EXTINF:5.9994,Artist - Title, with comma\n#EXT-X-BYTERANGE:1000@720\nall.mp4\n"
        "#EXTINF:6,\n#EXT-X-BYTERANGE:500\n  all.mp4  \n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\",IV=0x000102030405060708090A0B0C0D0E0F\n"
        "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://drm\",KEYFORMAT=\"com.example.drm\"\n"
        "#EXT-X-DISCONTINUITY\n#EXTINF:4.5,\nhttp://cdn.example/s3.ts?a=1,b\n"
        "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k2\"\n#EXTINF:6,\ns4.ts\n"
        "#EXT-X-KEY:METHOD=NONE\n#EXTINF:6.0,\ns5.ts\n#EXT-X-ENDLIST\n";
    M3u8 m;
    ASSERT_EQ(parse(text, &m), M3u8Status::Ok);
    const MediaPlaylist& p = m.media;
    EXPECT_EQ(p.target_duration_s, 6u);
    EXPECT_EQ(p.type, PlaylistType::Vod);
    EXPECT_TRUE(p.endlist);
    ASSERT_EQ(p.segments.size(), 5u);
    const MediaSegment& s0 = p.segments[0];
    EXPECT_EQ(s0.duration_ms, 5999u);
    EXPECT_EQ(s0.title, "Artist - Title, with comma");
    EXPECT_EQ(s0.sequence, 100u);
    EXPECT_EQ(s0.discontinuity_sequence, 3u);
    EXPECT_TRUE(s0.has_range);
    EXPECT_EQ(s0.range.offset, 720u);
    // No offset: the range goes on where the last one of the same resource ended.
    EXPECT_EQ(p.segments[1].uri, "all.mp4");
    EXPECT_EQ(p.segments[1].range.offset, 1720u);
    EXPECT_EQ(p.segments[1].range.length, 500u);
    ASSERT_EQ(p.maps.size(), 1u);
    EXPECT_EQ(p.maps[0].range.length, 720u);
    EXPECT_EQ(p.segments[1].map, 0);
    // The DRM offer beside the AES-128 key is not taken; the discontinuity counts.
    const MediaSegment& s2 = p.segments[2];
    EXPECT_EQ(s2.uri, "http://cdn.example/s3.ts?a=1,b");
    EXPECT_EQ(s2.duration_ms, 4500u);
    EXPECT_TRUE(s2.discontinuity);
    EXPECT_FALSE(p.segments[3].discontinuity);
    EXPECT_EQ(s2.discontinuity_sequence, 4u);
    EXPECT_EQ(p.segments[4].discontinuity_sequence, 4u);
    ASSERT_GE(s2.key, 0);
    const Key& k = p.keys[static_cast<size_t>(s2.key)];
    EXPECT_EQ(k.method, KeyMethod::Aes128);
    EXPECT_EQ(k.uri, "k1.bin");
    ASSERT_TRUE(k.has_iv);
    EXPECT_EQ(k.iv[0], 0x00);
    EXPECT_EQ(k.iv[15], 0x0F);
    EXPECT_EQ(segment_iv(k, s2.sequence), k.iv);
    const std::array<uint8_t, 16> from_sequence = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02};
    EXPECT_EQ(segment_iv(Key{KeyMethod::Aes128, "k", false, {}}, 0x0102), from_sequence);
    ASSERT_GE(p.segments[3].key, 0);
    EXPECT_EQ(p.keys[static_cast<size_t>(p.segments[3].key)].method, KeyMethod::SampleAes);
    EXPECT_EQ(p.segments[4].key, -1);

    // A DRM key alone is no key we can use; a short IV is right-aligned.
    ASSERT_EQ(parse("#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                    "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",KEYFORMAT=\"com.x\"\n#EXTINF:2,\na.ts\n"
                    "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0x1ff\n#EXTINF:2,\nb.ts\n",
                    &m),
              M3u8Status::Ok);
    EXPECT_EQ(m.media.keys.at(0).method, KeyMethod::Other);
    EXPECT_EQ(m.media.keys.at(1).iv[14], 0x01);
    EXPECT_EQ(m.media.keys.at(1).iv[15], 0xFF);
    EXPECT_EQ(m.media.type, PlaylistType::Live);
    EXPECT_FALSE(m.media.endlist);
}

TEST(HlsPlaylist, RefusesWhatIsNotHlsBrokenOrTooLarge) {
    const std::string head = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    std::string many_variants = "#EXTM3U\n";
    for (size_t i = 0; i <= kMaxVariants; ++i) many_variants += "#EXT-X-STREAM-INF:BANDWIDTH=1\nv.m3u8\n";
    const struct {
        std::string text;
        M3u8Status want;
    } cases[] = {
        {"#EXTM3U\n#EXTINF:-1,Radio\nhttp://a/stream\n", M3u8Status::NotHls},
        {"[playlist]\nFile1=http://a/\n", M3u8Status::NotHls},
        {"\n#EXTM3U\n#EXT-X-TARGETDURATION:2\n", M3u8Status::NotHls},
        {"#EXTM3U\n#EXTINF:2,\n#EXT-X-ENDLIST\na.ts\n", M3u8Status::Malformed},  // no target duration
        {head + "a.ts\n", M3u8Status::Malformed},                                  // no EXTINF
        {head + "#EXTINF:abc,\na.ts\n", M3u8Status::Malformed},
        {head + "#EXTINF:2,\n#EXT-X-BYTERANGE:10\na.ts\n", M3u8Status::Malformed},  // nothing to continue
        {head + "#EXTINF:2,\n#EXT-X-BYTERANGE:10@0\na.ts\n#EXTINF:2,\n#EXT-X-BYTERANGE:10\nb.ts\n",
         M3u8Status::Malformed},
        {head + "#EXTINF:2,\na.ts\n#EXT-X-MEDIA-SEQUENCE:5\n", M3u8Status::Malformed},
        {head + "#EXT-X-KEY:METHOD=AES-128\n", M3u8Status::Malformed},
        {head + "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0xZZ\n", M3u8Status::Malformed},
        {head + "#EXT-X-MAP:URI=\"i.mp4\n", M3u8Status::Malformed},  // unterminated quote
        {"#EXTM3U\n#EXT-X-STREAM-INF:CODECS=\"mp4a.40.2\"\na.m3u8\n", M3u8Status::Malformed},
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", M3u8Status::Malformed},
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\na.m3u8\n#EXT-X-TARGETDURATION:2\n", M3u8Status::Malformed},
        {head + "#EXTINF:2," + std::string(kMaxM3u8LineBytes, 'x') + "\na.ts\n", M3u8Status::TooLarge},
        {many_variants, M3u8Status::TooLarge},
    };
    for (const auto& c : cases) {
        M3u8 m;
        EXPECT_EQ(parse(c.text, &m), c.want) << c.text.substr(0, 120);
    }
    std::string huge = head;
    while (huge.size() <= kMaxM3u8Bytes) huge += "#EXTINF:2,\na.ts\n";
    M3u8 m;
    EXPECT_EQ(parse(huge, &m), M3u8Status::TooLarge);
    const std::string plain = "#EXTM3U\n#EXTINF:-1,x\nhttp://a/\n";
    EXPECT_FALSE(is_hls_playlist(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()));
}

TEST(HlsPlaylist, VariantOrderPrefersPlayableAudioUpToTheCap) {
    const std::string text =
        "#EXTM3U\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"Other\",URI=\"aud-other.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"Main\",DEFAULT=YES,AUTOSELECT=YES,LANGUAGE=\"en\","
        "URI=\"aud-main.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"sub\",NAME=\"S\",URI=\"s.m3u8\"\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=640000,CODECS=\"ec-3\"\nsurround.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=900000,CODECS=\"avc1.4d401e,mp4a.40.2\",AUDIO=\"aud\"\nvideo.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=128000,AVERAGE-BANDWIDTH=120000,CODECS=\"mp4a.40.2\"\nhi.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=48000,CODECS=\"mp4a.40.5\"\nhe.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=128000\nprobe.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=320000,CODECS=\"mp4a.40.34\"\nmp3.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=1200000,CODECS=\"avc1.4d401e,mp4a.40.2\"\nmuxed.m3u8\n";
    M3u8 m;
    ASSERT_EQ(parse(text, &m), M3u8Status::Ok);
    ASSERT_EQ(m.kind, PlaylistKindHls::Multivariant);
    ASSERT_EQ(m.multivariant.variants.size(), 7u);
    ASSERT_EQ(m.multivariant.renditions.size(), 2u);  // subtitles are not ours
    EXPECT_EQ(m.multivariant.variants[2].average_bandwidth, 120000u);
    EXPECT_TRUE(m.multivariant.renditions[1].is_default);
    EXPECT_EQ(codec_support("mp4a.40.29"), CodecSupport::HeAac);
    EXPECT_EQ(codec_support("mp4a.6B"), CodecSupport::Mpeg);
    EXPECT_EQ(codec_support("mp4a.40.42"), CodecSupport::Unplayable);
    EXPECT_EQ(codec_support("avc1.42e01e"), CodecSupport::Unplayable);

    std::vector<std::string> order;
    for (const PlayChoice& c : variant_order(m.multivariant, 1000000)) order.push_back(c.uri);
    // Within the cap audio alone before video, by bandwidth, known codecs
    // before probing; the video variant's audio through its DEFAULT rendition.
    const std::vector<std::string> want = {"aud-main.m3u8", "aud-other.m3u8", "mp3.m3u8", "hi.m3u8",
                                           "probe.m3u8",    "he.m3u8",        "video.m3u8", "muxed.m3u8"};
    EXPECT_EQ(order, want);
    const std::vector<PlayChoice> capped = variant_order(m.multivariant, 100000);
    ASSERT_EQ(capped.size(), want.size());
    EXPECT_EQ(capped[0].uri, "he.m3u8");
    EXPECT_EQ(capped[1].uri, "hi.m3u8");  // over the cap: the smallest first
    EXPECT_EQ(capped[0].codec, CodecSupport::HeAac);
}

TEST(HlsTs, FfmpegSegmentsGiveTheirAudioWithContinuousPts) {
    int64_t next = kNoTime;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "ts" + std::to_string(i) + ".ts";
        SCOPED_TRACE(name);
        const Bytes seg = fixture(name), want = fixture(name + ".adts");
        ASSERT_EQ(sniff_segment(seg.data(), seg.size()), SegmentFormat::MpegTs);
        for (size_t piece : {size_t(0), size_t(1), size_t(100), size_t(188), size_t(4000)}) {
            Demuxed d = demux(TsDemuxer(), seg, piece);
            ASSERT_EQ(d.status, DemuxStatus::Ok) << piece;
            EXPECT_EQ(d.audio, want) << piece;
            EXPECT_EQ(d.out.audio.front().kind, AudioKind::Adts);
        }
        Demuxed d = demux(TsDemuxer(), seg);
        if (next != kNoTime) {
            EXPECT_NEAR(d.out.audio.front().time, next, 1);
        }
        int64_t t = d.out.audio.front().time;
        for (const AudioChunk& c : d.out.audio) {
            EXPECT_NEAR(c.time, t, 1);
            t = c.time + aac_ticks(adts_frames(c.bytes));
        }
        next = t;
    }
}

TEST(HlsTs, ResyncsOverGarbageAndReportsLostPackets) {
    const Bytes seg = fixture("ts1.ts");
    const Demuxed clean = demux(TsDemuxer(), seg);
    ASSERT_EQ(clean.status, DemuxStatus::Ok);
    ASSERT_GE(clean.out.audio.size(), 3u);
    EXPECT_EQ(clean.out.audio[1].after_gap, false);

    // Garbage between packets (sync bytes included) costs nothing.
    Bytes noisy(seg.begin(), seg.begin() + 10 * kTsPacketBytes);
    noisy = cat(cat(noisy, {0x47, 1, 2, 0x47, 0x47, 9, 9}), Bytes(seg.begin() + 10 * kTsPacketBytes, seg.end()));
    for (size_t piece : {size_t(0), size_t(50)}) {
        const Demuxed d = demux(TsDemuxer(), noisy, piece);
        EXPECT_EQ(d.status, DemuxStatus::Ok);
        EXPECT_EQ(d.audio, clean.audio);
    }

    // A lost audio packet inside the first PES: that PES goes, the next says so.
    const Bytes first_pes = clean.out.audio[0].bytes;
    size_t audio_packets = 0, drop = 0;
    for (size_t at = 0; at < seg.size(); at += kTsPacketBytes) {
        const int pid = (seg[at + 1] & 0x1F) << 8 | seg[at + 2];
        if (pid == 0x100 && ++audio_packets == 2) drop = at;
    }
    ASSERT_GT(drop, 0u);
    Bytes lossy(seg.begin(), seg.begin() + static_cast<long>(drop));
    lossy = cat(lossy, Bytes(seg.begin() + static_cast<long>(drop + kTsPacketBytes), seg.end()));
    const Demuxed d = demux(TsDemuxer(), lossy);
    EXPECT_EQ(d.status, DemuxStatus::Ok);
    ASSERT_EQ(d.out.audio.size(), clean.out.audio.size() - 1);
    EXPECT_TRUE(d.out.audio[0].after_gap);
    EXPECT_EQ(d.out.audio[0].bytes, clean.out.audio[1].bytes);
    EXPECT_EQ(d.out.audio[0].time, clean.out.audio[1].time);
}

TEST(HlsTs, TimedId3AndStreamsWeCannotPlay) {
    const Bytes frames = fixture("ts0.ts.adts");
    const Bytes tag = id3_tag(cat(id3_frame("TIT2", text(3, bytes("Song"))), id3_frame("TPE1", text(0, bytes("Band")))));
    Bytes ts = ts_head(kStreamTypeAdts, true);
    int cc_audio = 0, cc_id3 = 0;
    ts_packets(&ts, kAudioPid, pes(0xC0, 900000, Bytes(frames.begin(), frames.begin() + 1000)), &cc_audio);
    ts_packets(&ts, kId3Pid, pes(0xBD, 945000, tag), &cc_id3);
    ts_packets(&ts, kAudioPid, pes(0xC0, 990000, Bytes(frames.begin() + 1000, frames.end())), &cc_audio);
    Demuxed d = demux(TsDemuxer(), ts, 61);
    ASSERT_EQ(d.status, DemuxStatus::Ok);
    EXPECT_EQ(d.audio, frames);
    ASSERT_EQ(d.out.titles.size(), 1u);
    EXPECT_EQ(d.out.titles[0].time, 945000);
    EXPECT_EQ(d.out.titles[0].text, "Band - Song");
    ASSERT_EQ(d.out.audio.size(), 2u);
    EXPECT_EQ(d.out.audio[1].time, 990000);

    // LATM alone is refused; a table whose CRC fails is not read.
    EXPECT_EQ(demux(TsDemuxer(), ts_head(kStreamTypeLatm, false)).status, DemuxStatus::Unsupported);
    Bytes bad_crc = ts_head(kStreamTypeAdts, false);
    EXPECT_EQ(demux(TsDemuxer(), bad_crc).status, DemuxStatus::Ok);
    bad_crc[2 * kTsPacketBytes - 12] ^= 1;  // the PMT's PCR PID: harmless but for the CRC
    EXPECT_EQ(demux(TsDemuxer(), bad_crc).status, DemuxStatus::NoAudio);
    EXPECT_EQ(demux(TsDemuxer(), Bytes(5000, 0x11)).status, DemuxStatus::NoAudio);
}

TEST(HlsPacked, FfmpegPackedAudioWithTimestampAndTitles) {
    const Bytes p1 = fixture("packed1.aac"), p2 = fixture("packed2.aac");
    ASSERT_EQ(sniff_segment(p1.data(), p1.size()), SegmentFormat::PackedAudio);
    for (size_t piece : {size_t(0), size_t(1), size_t(333)}) {
        const Demuxed d = demux(PackedAudioDemuxer(), p1, piece);
        ASSERT_EQ(d.status, DemuxStatus::Ok) << piece;
        EXPECT_EQ(d.audio, fixture("packed1.adts"));
        EXPECT_EQ(d.out.audio.front().time, 90000);
        ASSERT_EQ(d.out.titles.size(), 1u);
        EXPECT_EQ(d.out.titles[0].text, "Artist - T\xC3\xAFtle");
        EXPECT_EQ(d.out.titles[0].time, 90000);
    }
    // Two segments back to back (garbage between): the second tag re-times
    // and re-titles; chunks are timed by the frames before them.
    const Demuxed two = demux(PackedAudioDemuxer(), cat(cat(p1, {0x00, 0xFF, 0x12}), p2), 700);
    ASSERT_EQ(two.status, DemuxStatus::Ok);
    ASSERT_EQ(two.out.titles.size(), 2u);
    EXPECT_EQ(two.out.titles[1].text, "Second");
    EXPECT_EQ(two.out.titles[1].time, 180000);
    size_t first = 0, second = 0;  // frames so far in each
    for (const AudioChunk& c : two.out.audio) {
        size_t& before = c.time < 180000 ? first : second;
        EXPECT_EQ(c.time, (c.time < 180000 ? 90000 : 180000) + aac_ticks(before));
        before += adts_frames(c.bytes);
    }
    EXPECT_GT(second, 0u);

    const Bytes mp3 = fixture("packed.mp3");
    const Demuxed m = demux(PackedAudioDemuxer(), mp3, 100);
    ASSERT_EQ(m.status, DemuxStatus::Ok);
    EXPECT_EQ(m.out.audio.front().kind, AudioKind::Mpeg);
    EXPECT_EQ(m.out.audio.front().time, 90000);
    EXPECT_EQ(m.audio, Bytes(mp3.begin() + static_cast<long>(id3_tag_bytes(mp3.data(), mp3.size())), mp3.end()));
    EXPECT_EQ(m.out.titles.at(0).text, "Mp3");
    EXPECT_EQ(demux(PackedAudioDemuxer(), Bytes(p1.begin(), p1.begin() + 100)).status, DemuxStatus::NoAudio);
}

TEST(HlsFmp4, FfmpegInitAndFragmentsGiveAdtsWithDecodeTimes) {
    const Bytes init_bytes = fixture("init.mp4");
    Fmp4Init init;
    ASSERT_EQ(parse_fmp4_init(init_bytes.data(), init_bytes.size(), &init), DemuxStatus::Ok);
    EXPECT_EQ(init.timescale, 44100u);
    EXPECT_EQ(init.kind, AudioKind::Adts);
    // LC, 44.1 kHz, stereo; ffmpeg adds the SBR sync extension saying "no SBR".
    ASSERT_GE(init.audio_specific_config.size(), 2u);
    EXPECT_EQ(init.audio_specific_config[0], 0x12);
    EXPECT_EQ(init.audio_specific_config[1], 0x10);
    EXPECT_EQ(init.aac.object_type, 2);
    EXPECT_FALSE(init.aac.sbr);
    size_t frames = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "f" + std::to_string(i) + ".m4s";
        SCOPED_TRACE(name);
        const Bytes seg = fixture(name), want = fixture(name + ".adts");
        ASSERT_EQ(sniff_segment(seg.data(), seg.size()), SegmentFormat::Fmp4);
        for (size_t piece : {size_t(0), size_t(1), size_t(97)}) {
            const Demuxed d = demux(Fmp4Demuxer(init), seg, piece);
            ASSERT_EQ(d.status, DemuxStatus::Ok);
            EXPECT_EQ(d.audio, want);
        }
        // The init pushed before the segment (as an EXT-X-MAP) serves as well.
        const Demuxed d = demux(Fmp4Demuxer(), cat(init_bytes, seg), 500);
        ASSERT_EQ(d.status, DemuxStatus::Ok);
        EXPECT_EQ(d.audio, want);
        for (const AudioChunk& c : d.out.audio) EXPECT_EQ(c.time, aac_ticks(frames++));
    }
    // A sample of no bytes is no access unit (the others stay whole frames).
    Bytes empty_sample = fixture("f0.m4s");
    const size_t trun = std::string(empty_sample.begin(), empty_sample.end()).find("trun");
    ASSERT_EQ(Bytes(empty_sample.begin() + static_cast<long>(trun) + 4, empty_sample.begin() + static_cast<long>(trun) + 8),
              (Bytes{0, 0, 2, 1}));  // ffmpeg's: a data offset, then each sample's size
    std::fill_n(empty_sample.begin() + static_cast<long>(trun) + 16, 4, 0);
    const Demuxed short_one = demux(Fmp4Demuxer(init), empty_sample);
    EXPECT_EQ(short_one.out.audio.size(), adts_frames(fixture("f0.m4s.adts")) - 1);
    for (const AudioChunk& c : short_one.out.audio) EXPECT_EQ(adts_frames(c.bytes), 1u);
    Bytes encrypted = init_bytes;
    const std::string s(encrypted.begin(), encrypted.end());
    std::copy_n("enca", 4, encrypted.begin() + static_cast<long>(s.find("mp4a")));
    EXPECT_EQ(parse_fmp4_init(encrypted.data(), encrypted.size(), &init), DemuxStatus::Unsupported);
    EXPECT_EQ(demux(Fmp4Demuxer(), fixture("f0.m4s")).status, DemuxStatus::Malformed);
}

TEST(HlsFmp4, AudioSpecificConfigsAndEmsgTitles) {
    AacConfig c;
    // HE-AAC v2 as our decoder set-up writes it: explicit, mono 24 kHz core.
    AacSetup setup;
    setup.core_rate_index = 6;
    setup.channel_config = 1;
    setup.sbr = AacSbr::Explicit;
    setup.ps = true;
    setup.extension_rate_index = 3;
    const Bytes he = aac_audio_specific_config(setup);
    ASSERT_TRUE(parse_audio_specific_config(he.data(), he.size(), &c));
    EXPECT_EQ(c.object_type, 2);
    EXPECT_EQ(c.sample_rate, 24000);
    EXPECT_EQ(c.channel_config, 1);
    EXPECT_TRUE(c.sbr && c.ps);
    // LC 24 kHz stereo with the backward-compatible SBR sync extension.
    const Bytes implicit = {0x13, 0x10, 0x56, 0xE5, 0x98};
    ASSERT_TRUE(parse_audio_specific_config(implicit.data(), implicit.size(), &c));
    EXPECT_TRUE(c.sbr);
    EXPECT_FALSE(c.ps);
    EXPECT_EQ(c.rate_index, 6);
    uint8_t adts[7];
    ASSERT_TRUE(make_adts_header(c, 100, adts));
    AdtsHeader h;
    ASSERT_TRUE(parse_adts_header(adts, &h));
    EXPECT_EQ(h.frame_bytes, 107u);
    EXPECT_EQ(h.sample_rate, 24000);
    EXPECT_FALSE(make_adts_header(c, kAdtsMaxFrameBytes, adts));
    // 960-sample frames, channel configuration 0, cut short.
    for (const Bytes& refused : {Bytes{0x12, 0x14}, Bytes{0x12, 0x00}, Bytes{0x12}})
        EXPECT_FALSE(parse_audio_specific_config(refused.data(), refused.size(), &c));

    // emsg version 1 with an ID3 title, before a fragment.
    const Bytes tag = id3_tag(id3_frame("TIT2", text(3, bytes("Emsg Title"))));
    Bytes body = {1, 0, 0, 0, 0, 0, 0x03, 0xE8, 0, 0, 0, 0, 0, 0, 0x0B, 0xB8, 0, 0, 0, 0, 0, 0, 0, 1};
    body = cat(cat(cat(body, bytes("https://aomedia.org/emsg/ID3")), {0, 0}), tag);
    const size_t size = body.size() + 8;
    const Bytes box = cat({0, 0, uint8_t(size >> 8), uint8_t(size), 'e', 'm', 's', 'g'}, body);
    const Bytes init_bytes = fixture("init.mp4");
    Fmp4Init init;
    ASSERT_EQ(parse_fmp4_init(init_bytes.data(), init_bytes.size(), &init), DemuxStatus::Ok);
    const Demuxed d = demux(Fmp4Demuxer(init), cat(box, fixture("f1.m4s")), 64);
    ASSERT_EQ(d.status, DemuxStatus::Ok);
    ASSERT_EQ(d.out.titles.size(), 1u);
    EXPECT_EQ(d.out.titles[0].text, "Emsg Title");
    EXPECT_EQ(d.out.titles[0].time, 3 * kHlsClockHz);  // 3000 at 1000 per second
}

TEST(HlsId3, EncodingsUnsynchronisationAndTitles) {
    const Bytes utf16le = {1, 0xFF, 0xFE, 'H', 0, 'i', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};  // "Hi😀"
    const Bytes utf16be = {2, 0, 'B', 0, 0xE9};                                     // "Bé"
    // "xÿà" in Latin-1 unsynchronised: FF E0 becomes FF 00 E0.
    const Bytes raw = id3_frame("TIT2", {0, 'x', 0xFF, 0xE0}, 3);
    Bytes unsynced;
    for (size_t i = 0; i < raw.size(); ++i) {
        unsynced.push_back(raw[i]);
        if (raw[i] == 0xFF) unsynced.push_back(0);
    }
    const struct {
        Bytes tag;
        std::string want;
    } cases[] = {
        {id3_tag(cat(id3_frame("TIT2", text(3, bytes("\xC3\x9C"
                                                      "ber"))),
                     id3_frame("TPE1", text(0, {'C', 'a', 'f', 0xE9})))),
         "Caf\xC3\xA9 - \xC3\x9C" "ber"},
        {id3_tag(id3_frame("TIT2", utf16le, 3), 3), "Hi\xF0\x9F\x98\x80"},
        {id3_tag(id3_frame("TPE1", utf16be)), "B\xC3\xA9"},
        {id3_tag(cat(id3_frame("TXXX", cat(text(3, bytes("artist")), cat({0}, bytes("Band")))),
                     id3_frame("TXXX", cat(text(3, bytes("TITLE")), cat({0}, bytes("Song")))))),
         "Band - Song"},
        {id3_tag(id3_frame("TXXX", cat(text(0, bytes("x")), cat({0}, bytes("StreamTitle='A - B';url='';"))))), "A - B"},
        {id3_tag(unsynced, 3, 0x80), "x\xC3\xBF\xC3\xA0"},
        {id3_tag(id3_frame("TIT2", {0, 0, 0, 4, 0, 'x', 0xFF, 0, 0xE0}, 4, 0x03)), "x\xC3\xBF\xC3\xA0"},
        {id3_tag(id3_frame("TIT2", text(3, {'a', 0, 'b', '\t', 'c'}))), "a / b c"},
        {id3_tag(id3_frame("TIT2", text(3, {'a', 0xC3}))), "a\xEF\xBF\xBD"},
        {id3_tag(cat(id3_frame("TIT2", text(9, bytes("bad encoding"))), priv_timestamp(5))), ""},
    };
    for (const auto& c : cases) {
        Id3Tag tag;
        ASSERT_EQ(parse_id3(c.tag.data(), c.tag.size(), &tag), Id3Status::Ok);
        EXPECT_EQ(tag.size, c.tag.size());
        EXPECT_EQ(id3_title(tag), c.want);
    }
    Id3Tag tag;
    const Bytes stamped = id3_tag(priv_timestamp(0xFFFFFFFF00000005ull));
    ASSERT_EQ(parse_id3(stamped.data(), stamped.size(), &tag), Id3Status::Ok);
    EXPECT_EQ(tag.timestamp, 0x100000005ll);  // 33 bits
    EXPECT_EQ(tag.priv.at(0).owner, kTransportStreamTimestampOwner);
    const Bytes long_title = id3_tag(id3_frame("TIT2", text(3, Bytes(3 * kMaxId3TextBytes, 'a'))));
    ASSERT_EQ(parse_id3(long_title.data(), long_title.size(), &tag), Id3Status::Ok);
    EXPECT_EQ(tag.title.size(), kMaxId3TextBytes);
    EXPECT_EQ(parse_id3(stamped.data(), stamped.size() - 1, &tag), Id3Status::NeedMore);
    Bytes big = id3_tag({});
    const Bytes over = syncsafe(kMaxId3TagBytes);
    std::copy(over.begin(), over.end(), big.begin() + 6);
    EXPECT_EQ(parse_id3(big.data(), big.size(), &tag), Id3Status::TooLarge);
    Bytes v5 = stamped;
    v5[3] = 5;
    EXPECT_EQ(parse_id3(v5.data(), v5.size(), &tag), Id3Status::Malformed);
    EXPECT_EQ(parse_id3(fixture("packed1.adts").data(), 100, &tag), Id3Status::NotId3);
}
