// Following an HLS stream: where a live list is joined, when it is reloaded,
// AES padding, where a timed title lands among the bytes and its ICY form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/hls/hls_follow.h"
#include "engine/hls/segment.h"

namespace {

using namespace engine::hls;

// A live list of `count` segments of `segment_s` seconds from sequence 100.
MediaPlaylist Live(uint32_t target_s, uint32_t segment_s, int count) {
    MediaPlaylist list;
    list.target_duration_s = target_s;
    list.media_sequence = 100;
    for (int i = 0; i < count; ++i) {
        MediaSegment s;
        s.duration_ms = segment_s * 1000;
        s.sequence = 100 + static_cast<uint64_t>(i);
        list.segments.push_back(s);
    }
    return list;
}

TEST(HlsFollow, LiveListsAreJoinedThreeTargetsFromTheirEdgeAndFollowedBySequence) {
    // 12 s before the edge: the last three 4 s segments.
    EXPECT_EQ(start_index(Live(4, 4, 10)), 7u);
    // Short segments under a longer target: 18 s are nine 2 s segments.
    EXPECT_EQ(start_index(Live(6, 2, 10)), 1u);
    // Fewer than three targets in the list: its start.
    EXPECT_EQ(start_index(Live(4, 4, 2)), 0u);
    // An absurd target counts as 60 s: one long segment is enough.
    EXPECT_EQ(start_index(Live(100000, 200, 5)), 4u);
    MediaPlaylist ended = Live(4, 4, 10);
    ended.endlist = true;
    EXPECT_EQ(start_index(ended), 0u);
    MediaPlaylist vod = Live(4, 4, 10);
    vod.type = PlaylistType::Vod;
    EXPECT_EQ(start_index(vod), 0u);
    EXPECT_EQ(start_index(Live(4, 4, 0)), 0u);

    const MediaPlaylist list = Live(4, 4, 10);
    ASSERT_NE(find_segment(list, 107), nullptr);
    EXPECT_EQ(find_segment(list, 107)->sequence, 107u);
    EXPECT_EQ(find_segment(list, 99), nullptr);   // slid out of the window
    EXPECT_EQ(find_segment(list, 110), nullptr);  // not published yet
}

TEST(HlsFollow, ReloadAndStallTimesAreBounded) {
    EXPECT_EQ(reload_delay_ms(4, false), 4000u);
    EXPECT_EQ(reload_delay_ms(4, true), 2000u);
    EXPECT_EQ(reload_delay_ms(1, true), 500u);
    EXPECT_EQ(reload_delay_ms(0, false), 1000u);  // a zero target is one second
    EXPECT_EQ(reload_delay_ms(3600, false), 60000u);
    EXPECT_EQ(stall_ms(1), 4000u);
    EXPECT_EQ(stall_ms(10), 15000u);
    EXPECT_EQ(stall_ms(3600), 90000u);
}

TEST(HlsFollow, Pkcs7PaddingIsRemovedOnlyWhenValid) {
    std::vector<uint8_t> data(28, 0xAB);
    data.insert(data.end(), 4, 0x04);
    EXPECT_TRUE(strip_pkcs7(&data));
    EXPECT_EQ(data, std::vector<uint8_t>(28, 0xAB));

    std::vector<uint8_t> whole_block(16, 0x10);
    EXPECT_TRUE(strip_pkcs7(&whole_block));
    EXPECT_TRUE(whole_block.empty());

    std::vector<uint8_t> zero(16, 0x00), too_long(16, 0x11), mixed(16, 0x03), partial(15, 0x01), none;
    mixed[14] = 0x02;
    for (std::vector<uint8_t>* bad : {&zero, &too_long, &mixed, &partial, &none}) {
        const std::vector<uint8_t> before = *bad;
        EXPECT_FALSE(strip_pkcs7(bad));
        EXPECT_EQ(*bad, before);
    }
}

TEST(HlsFollow, TimedTitlesLandWhereTheirMomentIsInTheBytes) {
    // A segment of bytes [0, 3000) whose chunks start every 0.1 s (9000 ticks)
    // and 1000 bytes: 1/9 byte a tick.
    const std::vector<PlacedChunk> even = {{0, 90000}, {1000, 99000}, {2000, 108000}};
    EXPECT_EQ(place_title(even, 94500, 0, 3000), 500u);
    EXPECT_EQ(place_title(even, 99000, 0, 3000), 1000u);
    EXPECT_EQ(place_title(even, 112500, 0, 3000), 2500u);
    EXPECT_EQ(place_title(even, 200000, 0, 3000), 3000u);  // after the audio: its end
    EXPECT_EQ(place_title(even, 80000, 0, 3000), 0u);      // before it: its start
    EXPECT_EQ(place_title(even, kNoTime, 0, 3000), 0u);
    EXPECT_EQ(place_title({}, 94500, 500, 3000), 500u);
    // A short first chunk: the title stays inside the chunk its time falls in.
    const std::vector<PlacedChunk> uneven = {{0, 90000}, {100, 99000}, {2000, 108000}};
    EXPECT_EQ(place_title(uneven, 94500, 0, 3000), 100u);
    // Chunks without a time are passed over.
    const std::vector<PlacedChunk> gaps = {{0, kNoTime}, {1000, 99000}, {2000, kNoTime}, {3000, 108000}};
    EXPECT_EQ(place_title(gaps, 103500, 0, 4000), 2000u);
}

TEST(HlsFollow, TitlesBecomeIcyTitlesWithoutControlsOrHalfCharacters) {
    EXPECT_EQ(stream_title("Artist - Song"), "StreamTitle='Artist - Song';");
    EXPECT_EQ(stream_title("A\tB\r\n\x7f" "C"), "StreamTitle='A B   C';");
    // 1023 letters, then a two-byte character across the 1024-byte cut.
    const std::string letters(1023, 'a');
    EXPECT_EQ(stream_title(letters + "\xC3\xA9" "tail"), "StreamTitle='" + letters + "';");
    const std::string exact(1024, 'b');
    EXPECT_EQ(stream_title(exact + "more"), "StreamTitle='" + exact + "';");
}

}  // namespace
