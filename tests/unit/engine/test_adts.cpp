// ADTS headers, the framer on them, and what the AAC decoder is told about a
// stream. The configs are checked against bytes worked out by hand from the
// bit layout of ISO/IEC 14496-3, never against our own builder.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "engine/codec/adts.h"
#include "engine/codec/format_sniffer.h"
#include "engine/codec/stream_probe.h"

using namespace engine;

namespace {

// Header of an AAC-LC frame: MPEG-4, no CRC, `rate_index`, `channels`, whole
// frame `length` bytes, buffer fullness 0x7FF, one raw data block.
std::vector<uint8_t> header(int rate_index, int channels, size_t length, int profile = 1) {
    return {0xFF,
            0xF1,
            static_cast<uint8_t>((profile << 6) | (rate_index << 2) | (channels >> 2)),
            static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3)),
            static_cast<uint8_t>((length >> 3) & 0xFF),
            static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
            0xFC};
}

// A whole frame whose payload cannot contain a sync word.
std::vector<uint8_t> frame(size_t length, int rate_index = 4, int channels = 2) {
    std::vector<uint8_t> f = header(rate_index, channels, length);
    f.resize(length, 0x11);
    return f;
}

void append(std::vector<uint8_t>* to, const std::vector<uint8_t>& bytes) {
    to->insert(to->end(), bytes.begin(), bytes.end());
}

std::vector<size_t> frame_sizes(const std::vector<uint8_t>& data) {
    AdtsFramer f;
    std::vector<size_t> sizes;
    size_t at = 0;
    AdtsFrame fr;
    while (at < data.size()) {
        at += f.push(data.data() + at, data.size() - at);
        while (f.next_frame(&fr)) sizes.push_back(fr.size);
    }
    f.end();
    while (f.next_frame(&fr)) sizes.push_back(fr.size);
    return sizes;
}

}  // namespace

TEST(Adts, HeaderFieldsAndRefusals) {
    // The header of ffmpeg's 44.1 kHz stereo AAC-LC, frame of 226 bytes.
    const uint8_t real[] = {0xFF, 0xF1, 0x50, 0x80, 0x1C, 0x5F, 0xFC};
    AdtsHeader h;
    ASSERT_TRUE(parse_adts_header(real, &h));
    EXPECT_EQ(h.object_type, kAacObjectLc);
    EXPECT_EQ(h.sample_rate, 44100);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.frame_bytes, 226u);
    EXPECT_EQ(h.header_bytes, 7u);
    EXPECT_EQ(h.blocks, 1);
    EXPECT_FALSE(h.crc);

    const uint8_t with_crc[] = {0xFF, 0xF0, 0x58, 0x40, 0x1C, 0x5F, 0xFD};
    ASSERT_TRUE(parse_adts_header(with_crc, &h));
    EXPECT_TRUE(h.crc);
    EXPECT_EQ(h.header_bytes, 9u);
    EXPECT_EQ(h.sample_rate, 24000);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.blocks, 2);
    const uint8_t config7[] = {0xFF, 0xF1, 0x51, 0xC0, 0x1C, 0x5F, 0xFC};
    ASSERT_TRUE(parse_adts_header(config7, &h));
    EXPECT_EQ(h.channels, 8);

    const uint8_t refused[][7] = {
        {0xFF, 0xF3, 0x50, 0x80, 0x1C, 0x5F, 0xFC},  // layer 1: that is MPEG audio
        {0xFF, 0xF1, 0x74, 0x80, 0x1C, 0x5F, 0xFC},  // rate index 13
        {0xFF, 0xF1, 0x50, 0x00, 0x1C, 0x5F, 0xFC},  // channels in the payload
        {0xFF, 0xF1, 0x50, 0x80, 0x00, 0xDF, 0xFC},  // 6 bytes: shorter than its header
        {0xFF, 0xE1, 0x50, 0x80, 0x1C, 0x5F, 0xFC},  // no sync
    };
    for (const auto& r : refused) EXPECT_FALSE(parse_adts_header(r, &h)) << std::hex << int(r[1]);
}

TEST(Adts, FramerPassesWholeFramesAndFindsTheStreamAgain) {
    std::vector<uint8_t> data = {0x00, 0xFF, 0xF1, 0x42};  // garbage, a false sync among it
    for (size_t n : {300u, 280u, 310u, 290u}) append(&data, frame(n));
    // A frame whose length field is wrong, then the stream goes on.
    std::vector<uint8_t> bad = frame(305);
    bad[4] = 0x20;
    append(&data, bad);
    for (size_t n : {320u, 330u, 340u, 350u}) append(&data, frame(n));
    // Another configuration: the framer locks on it as well.
    for (size_t n : {200u, 210u, 220u, 230u}) append(&data, frame(n, 6, 1));
    EXPECT_EQ(frame_sizes(data),
              (std::vector<size_t>{300, 280, 310, 290, 320, 330, 340, 350, 200, 210, 220, 230}));

    EXPECT_EQ(sniff_format(data.data() + 4, data.size() - 4, false), StreamFormat::Adts);
    AdtsHeader first;
    ASSERT_TRUE(probe_adts(data.data() + 4, data.size() - 4, &first));
    EXPECT_EQ(first.frame_bytes, 300u);
    // 300, 280, 310, 290, then 320, 330, 340, 350 bytes per 1024 samples at 44.1 kHz.
    EXPECT_EQ(adts_byte_rate(data.data(), data.size()), 2520u * 44100u / (8u * 1024u));
}

TEST(Adts, RealEncodedFileFramesFromStartToEnd) {
    std::ifstream f(std::string(ENGINE_FIXTURE_DIR) + "/tone.aac", std::ios::binary);
    const std::vector<uint8_t> data(std::istreambuf_iterator<char>(f), {});
    ASSERT_GT(data.size(), 1000u);
    EXPECT_EQ(sniff_format(data.data(), data.size(), false), StreamFormat::Adts);
    size_t total = 0;
    for (size_t n : frame_sizes(data)) total += n;
    EXPECT_EQ(total, data.size());
}

TEST(AacSetup, LcNamesItsCoreAlone) {
    AdtsHeader h;
    const std::vector<uint8_t> lc = header(4, 2, 300);
    ASSERT_TRUE(parse_adts_header(lc.data(), &h));
    AacSetup s;
    // audio/aacp or not: at 44.1 kHz there is no room for SBR above the core.
    for (bool named : {false, true}) {
        ASSERT_TRUE(aac_setup_for(h, named, &s));
        EXPECT_EQ(s.sbr, AacSbr::Implicit);
        EXPECT_EQ(s.output_rate, 44100);
        EXPECT_EQ(s.output_channels, 2);
        EXPECT_EQ(s.profile_level, 0x29);  // AAC profile, level 2
        // object type 2, rate index 4, 2 channels, GASpecificConfig 000
        EXPECT_EQ(aac_audio_specific_config(s), (std::vector<uint8_t>{0x12, 0x10}));
    }
    EXPECT_EQ(aac_decoder_user_data(s),
              (std::vector<uint8_t>{0x01, 0x00, 0x29, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x10}));

    // A slow core not named HE-AAC: SBR may still be inside (implicit).
    const std::vector<uint8_t> slow = header(6, 2, 300);
    ASSERT_TRUE(parse_adts_header(slow.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, false, &s));
    EXPECT_EQ(s.sbr, AacSbr::Implicit);
    EXPECT_EQ(s.output_rate, 24000);
    EXPECT_EQ(s.profile_level, 0xFE);
    EXPECT_EQ(aac_audio_specific_config(s), (std::vector<uint8_t>{0x13, 0x10}));

    // Main profile: not for the system decoder.
    const std::vector<uint8_t> main = header(4, 2, 300, 0);
    ASSERT_TRUE(parse_adts_header(main.data(), &h));
    EXPECT_FALSE(aac_setup_for(h, false, &s));
}

TEST(AacSetup, HeAacIsSignalledExplicitlyAtTwiceTheAdtsRate) {
    AdtsHeader h;
    AacSetup s;
    // HE-AAC v1: a 24 kHz stereo core, 48 kHz out.
    const std::vector<uint8_t> v1 = header(6, 2, 300);
    ASSERT_TRUE(parse_adts_header(v1.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, true, &s));
    EXPECT_EQ(s.sbr, AacSbr::Explicit);
    EXPECT_FALSE(s.ps);
    EXPECT_EQ(s.output_rate, 48000);
    EXPECT_EQ(s.output_channels, 2);
    EXPECT_EQ(s.profile_level, 0x2C);  // HE-AAC profile, level 2
    // object type 5, core rate index 6, 2 channels, extension rate index 3,
    // core object type 2, GASpecificConfig 000
    EXPECT_EQ(aac_audio_specific_config(s), (std::vector<uint8_t>{0x2B, 0x11, 0x88, 0x00}));
    // 22.05 kHz core, 44.1 kHz out.
    const std::vector<uint8_t> v1b = header(7, 2, 300);
    ASSERT_TRUE(parse_adts_header(v1b.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, true, &s));
    EXPECT_EQ(s.output_rate, 44100);
    EXPECT_EQ(aac_audio_specific_config(s), (std::vector<uint8_t>{0x2B, 0x92, 0x08, 0x00}));

    // HE-AAC v2: a mono core whose parametric stereo makes two channels.
    const std::vector<uint8_t> v2 = header(7, 1, 300);
    ASSERT_TRUE(parse_adts_header(v2.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, true, &s));
    EXPECT_TRUE(s.ps);
    EXPECT_EQ(s.output_rate, 44100);
    EXPECT_EQ(s.output_channels, 2);
    EXPECT_EQ(s.profile_level, 0x30);  // HE-AAC v2 profile, level 2
    // object type 29, core rate index 7, 1 channel, extension rate index 4,
    // core object type 2, GASpecificConfig 000
    EXPECT_EQ(aac_audio_specific_config(s), (std::vector<uint8_t>{0xEB, 0x8A, 0x08, 0x00}));
    EXPECT_EQ(aac_decoder_user_data(s),
              (std::vector<uint8_t>{0x01, 0x00, 0x30, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0xEB, 0x8A, 0x08, 0x00}));

    // 5.1 HE-AAC at 48 kHz out: level 4.
    const std::vector<uint8_t> surround = header(6, 6, 300);
    ASSERT_TRUE(parse_adts_header(surround.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, true, &s));
    EXPECT_EQ(s.output_channels, 6);
    EXPECT_EQ(s.profile_level, 0x2E);

    // 7350 Hz has no twice itself in the rate table: left implicit.
    const std::vector<uint8_t> odd = header(12, 2, 300);
    ASSERT_TRUE(parse_adts_header(odd.data(), &h));
    ASSERT_TRUE(aac_setup_for(h, true, &s));
    EXPECT_EQ(s.sbr, AacSbr::Implicit);
    EXPECT_EQ(s.output_rate, 7350);
}
