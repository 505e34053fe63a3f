#include "engine/hls/hls_follow.h"

#include <algorithm>

#include "engine/hls/segment.h"

namespace engine::hls {

namespace {

constexpr uint32_t kMsPerSecond = 1000;

uint32_t target_ms(uint32_t target_duration_s) {
    return std::min(std::max(target_duration_s, 1u), kMaxTargetDurationS) * kMsPerSecond;
}

}  // namespace

size_t start_index(const MediaPlaylist& list) {
    if (list.endlist || list.type == PlaylistType::Vod || list.segments.empty()) return 0;
    const uint64_t want = static_cast<uint64_t>(kLiveStartTargets) * target_ms(list.target_duration_s);
    uint64_t remaining = 0;
    size_t i = list.segments.size();
    while (i > 0) {
        --i;
        remaining += list.segments[i].duration_ms;
        if (remaining >= want) break;
    }
    return i;
}

const MediaSegment* find_segment(const MediaPlaylist& list, uint64_t sequence) {
    if (sequence < list.media_sequence) return nullptr;
    const uint64_t index = sequence - list.media_sequence;
    if (index >= list.segments.size()) return nullptr;
    const MediaSegment& s = list.segments[static_cast<size_t>(index)];
    return s.sequence == sequence ? &s : nullptr;
}

uint32_t reload_delay_ms(uint32_t target_duration_s, bool unchanged) {
    const uint32_t ms = target_ms(target_duration_s);
    return std::max(unchanged ? ms / 2 : ms, kMinReloadMs);
}

uint32_t stall_ms(uint32_t target_duration_s) {
    return std::max(target_ms(target_duration_s) * 3 / 2, kMinStallMs);
}

bool strip_pkcs7(std::vector<uint8_t>* data) {
    if (data->empty() || data->size() % kAesBlockBytes != 0) return false;
    const uint8_t pad = data->back();
    if (pad == 0 || pad > kAesBlockBytes) return false;
    for (size_t i = data->size() - pad; i < data->size(); ++i)
        if ((*data)[i] != pad) return false;
    data->resize(data->size() - pad);
    return true;
}

uint64_t place_title(const std::vector<PlacedChunk>& chunks, int64_t time, uint64_t start, uint64_t end) {
    if (time == kNoTime) return start;
    // The timed chunks' span gives the segment's bytes per tick.
    const PlacedChunk* first = nullptr;
    const PlacedChunk* last = nullptr;
    const PlacedChunk* at = nullptr;   // the last chunk that starts at or before `time`
    const PlacedChunk* next = nullptr; // the chunk after it
    for (const PlacedChunk& c : chunks) {
        if (c.time == kNoTime) continue;
        if (!first) first = &c;
        last = &c;
        if (c.time <= time) {
            at = &c;
            next = nullptr;
        } else if (at && !next) {
            next = &c;
        }
    }
    if (!at) return start;
    uint64_t offset = at->offset;
    if (last->time > first->time && last->offset > first->offset) {
        const double per_tick = static_cast<double>(last->offset - first->offset) /
                                static_cast<double>(last->time - first->time);
        offset += static_cast<uint64_t>(per_tick * static_cast<double>(time - at->time));
    }
    const uint64_t limit = next ? next->offset : end;
    return std::min(std::max(offset, at->offset), std::max(limit, at->offset));
}

std::string stream_title(const std::string& text) {
    std::string t = text.substr(0, kMaxTitleBytes);
    if (t.size() < text.size()) {
        // Back to the start of the character that was cut.
        size_t cut = t.size();
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        t.resize(cut);
    }
    for (char& c : t) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return "StreamTitle='" + t + "';";
}

}  // namespace engine::hls
