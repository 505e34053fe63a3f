#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "engine/codec/format_sniffer.h"
#include "engine/codec/mpeg_header.h"

using namespace engine;

namespace {

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// One frame with header h0..h3 and a payload that cannot contain a sync word.
std::vector<uint8_t> frame(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t fill) {
    const uint8_t h[4] = {0xFF, b1, b2, b3};
    MpegHeader mh;
    EXPECT_TRUE(parse_mpeg_header(h, &mh));
    std::vector<uint8_t> f(static_cast<size_t>(mh.frame_bytes), fill);
    std::copy(h, h + 4, f.begin());
    return f;
}

struct Framed {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> changes;
    uint64_t skipped = 0;
};

Framed run_framer(const std::vector<uint8_t>& data, std::mt19937* rng) {
    MpegFramer f;
    Framed out;
    size_t at = 0;
    for (;;) {
        if (at < data.size()) {
            size_t n = rng ? (*rng)() % 3000 + 1 : data.size();
            n = std::min(n, data.size() - at);
            at += f.push(data.data() + at, n);
        } else {
            f.end();
        }
        MpegFrame fr;
        while (f.next_frame(&fr)) {
            out.frames.emplace_back(fr.data, fr.data + fr.size);
            out.changes.push_back(fr.format_changed);
        }
        if (at >= data.size() && f.buffered() == 0) break;
        if (at >= data.size()) {
            f.end();
            while (f.next_frame(&fr)) {
                out.frames.emplace_back(fr.data, fr.data + fr.size);
                out.changes.push_back(fr.format_changed);
            }
            break;
        }
    }
    out.skipped = f.skipped_bytes();
    return out;
}

}  // namespace

TEST(MpegHeader, ParsesEveryVersionAndLayer) {
    struct Case {
        uint8_t b[4];
        MpegVersion version;
        int layer, kbps, rate, channels, bytes, samples;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x44}, MpegVersion::V1, 3, 128, 44100, 2, 417, 1152},
        {{0xFF, 0xFB, 0x92, 0xC4}, MpegVersion::V1, 3, 128, 44100, 1, 418, 1152},  // padded, mono
        {{0xFF, 0xF3, 0x80, 0x44}, MpegVersion::V2, 3, 64, 22050, 2, 208, 576},
        {{0xFF, 0xE3, 0x18, 0xC4}, MpegVersion::V25, 3, 8, 8000, 1, 72, 576},
        {{0xFF, 0xFF, 0xC4, 0x00}, MpegVersion::V1, 1, 384, 48000, 2, 384, 384},
        {{0xFF, 0xFD, 0xA4, 0x00}, MpegVersion::V1, 2, 192, 48000, 2, 576, 1152},
    };
    for (const Case& c : cases) {
        MpegHeader h;
        ASSERT_TRUE(parse_mpeg_header(c.b, &h)) << c.kbps;
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.layer, c.layer);
        EXPECT_EQ(h.bitrate_kbps, c.kbps);
        EXPECT_EQ(h.sample_rate, c.rate);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.frame_bytes, c.bytes) << c.kbps << " kbit/s layer " << c.layer;
        EXPECT_EQ(h.samples_per_frame, c.samples);
    }
    const uint8_t bad[][4] = {
        {0xFF, 0x7B, 0x90, 0x44},  // no sync
        {0xFF, 0xEB, 0x90, 0x44},  // reserved version
        {0xFF, 0xF9, 0x90, 0x44},  // reserved layer
        {0xFF, 0xFB, 0x00, 0x44},  // free format
        {0xFF, 0xFB, 0xF0, 0x44},  // bit-rate index 15
        {0xFF, 0xFB, 0x9C, 0x44},  // reserved sample rate
        {0xFF, 0xFB, 0x90, 0x46},  // reserved emphasis
        {0xFF, 0xFD, 0xE4, 0xC0},  // layer II 384 kbit/s mono: not allowed
        {0xFF, 0xFD, 0x14, 0x00},  // layer II 32 kbit/s stereo: not allowed
    };
    for (const auto& b : bad) {
        MpegHeader h;
        EXPECT_FALSE(parse_mpeg_header(b, &h)) << std::hex << int(b[1]) << int(b[2]) << int(b[3]);
    }
}

TEST(MpegFramer, ResyncsAfterGarbageMidFrameStartAndLostBytes) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 10; ++i) frames.push_back(frame(0xFB, i % 2 ? 0x92 : 0x90, 0x44, 0x11));
    for (int i = 0; i < 10; ++i) frames.push_back(frame(0xF3, 0x80, 0xC4, 0x22));  // 22 kHz mono

    std::vector<uint8_t> data;
    // Starts in the middle of a frame, then garbage with false sync words.
    data.insert(data.end(), frames[0].begin() + 100, frames[0].end());
    const uint8_t junk[] = {0xFF, 0xFB, 0x90, 0x44, 0x00, 0xFF, 0xFF, 0xE0, 0x12};
    data.insert(data.end(), junk, junk + sizeof junk);
    std::vector<size_t> expect;  // indexes of frames that must come out whole
    for (int i = 1; i < 20; ++i) {
        if (i == 6) {
            // Frame 6 loses its tail: it must not reach the decoder.
            data.insert(data.end(), frames[i].begin(), frames[i].begin() + 200);
            continue;
        }
        data.insert(data.end(), frames[i].begin(), frames[i].end());
        expect.push_back(i);
    }
    for (int pass = 0; pass < 2; ++pass) {
        std::mt19937 rng(pass);
        const Framed got = run_framer(data, pass ? &rng : nullptr);
        // Every whole frame comes out, in order; the damaged one does not.
        ASSERT_EQ(got.frames.size(), expect.size());
        for (size_t i = 0; i < expect.size(); ++i)
            EXPECT_EQ(got.frames[i], frames[expect[i]]) << "frame " << expect[i];
        int changes = 0;
        for (bool c : got.changes) changes += c;
        EXPECT_TRUE(got.changes[0]);
        EXPECT_EQ(changes, 2) << "one change to 22 kHz mono";
        EXPECT_GT(got.skipped, 0u);
    }
}

TEST(MpegFramer, RealEncodedFileWithId3Tag) {
    const auto data = read_file(ENGINE_FIXTURE_DIR "/tone.mp3");
    ASSERT_GT(data.size(), 10000u);
    ASSERT_EQ(std::string(data.begin(), data.begin() + 3), "ID3");
    std::mt19937 rng(3);
    const Framed got = run_framer(data, &rng);
    size_t total = 0;
    for (const auto& f : got.frames) total += f.size();
    // Everything but the tag is frames: nothing lost, nothing invented.
    EXPECT_EQ(total + id3v2_tag_size(data.data(), data.size()), data.size());
    EXPECT_EQ(got.skipped, id3v2_tag_size(data.data(), data.size()));
    // 2 s at 44.1 kHz is about 77 frames of 1152 samples, plus the encoder's
    // info frame and padding.
    EXPECT_GE(got.frames.size(), 77u);
    EXPECT_LE(got.frames.size(), 82u);
    // The encoder's first frame is its info frame, the rest are sound.
    size_t info = 0;
    for (const auto& f : got.frames) {
        MpegHeader h;
        ASSERT_TRUE(parse_mpeg_header(f.data(), &h));
        info += is_mpeg_info_frame(f.data(), f.size(), h);
    }
    EXPECT_EQ(info, 1u);
    MpegHeader first;
    ASSERT_TRUE(parse_mpeg_header(got.frames[0].data(), &first));
    EXPECT_TRUE(is_mpeg_info_frame(got.frames[0].data(), got.frames[0].size(), first));
}

TEST(FormatSniffer, TellsMpegOggAndNeitherWithinTheLimit) {
    const auto mp3 = read_file(ENGINE_FIXTURE_DIR "/tone.mp3");
    const auto ogg = read_file(ENGINE_FIXTURE_DIR "/a.ogg");
    EXPECT_EQ(sniff_format(mp3.data(), mp3.size(), false), StreamFormat::Mpeg);
    EXPECT_EQ(sniff_format(ogg.data(), ogg.size(), false), StreamFormat::Ogg);
    EXPECT_EQ(sniff_format(ogg.data(), 20, false), StreamFormat::NeedMore);
    EXPECT_EQ(sniff_format(ogg.data(), 20, true), StreamFormat::Unknown);
    EXPECT_EQ(sniff_format(mp3.data(), 5, false), StreamFormat::NeedMore);

    // Audio after some garbage is still found.
    std::vector<uint8_t> late(1000, 0x55);
    late.insert(late.end(), ogg.begin(), ogg.end());
    EXPECT_EQ(sniff_format(late.data(), late.size(), false), StreamFormat::Ogg);

    std::mt19937 rng(5);
    std::vector<uint8_t> noise(kSniffLimit + 1000);
    for (auto& b : noise) b = static_cast<uint8_t>(rng() & 0x7F);  // never a sync byte
    EXPECT_EQ(sniff_format(noise.data(), noise.size(), false), StreamFormat::Unknown);
    const std::string html = "<html><body>Not Found</body></html>";
    EXPECT_EQ(sniff_format(reinterpret_cast<const uint8_t*>(html.data()), html.size(), true),
              StreamFormat::Unknown);
}
