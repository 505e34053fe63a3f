#include "engine/codec/stream_probe.h"

#include <algorithm>

#include "engine/codec/adts.h"
#include "engine/codec/ogg_page.h"
#include "engine/codec/vorbis_codec.h"

namespace engine {

namespace {

constexpr int kMaxKbpsDigits = 6;
constexpr uint32_t kBytesPerKbit = 1000 / 8;
constexpr uint32_t kMaxPercent = 100;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

uint32_t clamp_byte_rate(uint64_t bytes_per_second) {
    if (bytes_per_second == 0) return 0;
    return static_cast<uint32_t>(
        std::clamp<uint64_t>(bytes_per_second, kMinByteRate, kMaxByteRate));
}

uint32_t icy_br_byte_rate(const char* value) {
    if (!value) return 0;
    while (is_blank(*value)) ++value;
    uint64_t kbps = 0;
    int digits = 0;
    for (; *value >= '0' && *value <= '9'; ++value) {
        if (++digits > kMaxKbpsDigits) return 0;
        kbps = kbps * 10 + static_cast<uint64_t>(*value - '0');
    }
    while (is_blank(*value)) ++value;
    if (digits == 0 || (*value != '\0' && *value != ',')) return 0;
    return clamp_byte_rate(kbps * kBytesPerKbit);
}

uint32_t vorbis_byte_rate(const uint8_t* id, size_t size) {
    if (!check_vorbis_identification(id, size, nullptr, nullptr)) return 0;
    const int32_t maximum = static_cast<int32_t>(read_le32(id + 16));
    const int32_t nominal = static_cast<int32_t>(read_le32(id + 20));
    const int32_t bits = nominal > 0 ? nominal : maximum;
    return bits > 0 ? clamp_byte_rate(static_cast<uint64_t>(bits) / 8) : 0;
}

bool probe_mpeg(const uint8_t* data, size_t size, MpegHeader* first) {
    return probe_first_frame<MpegFormat>(data, size, first);
}

bool probe_adts(const uint8_t* data, size_t size, AdtsHeader* first) {
    return probe_first_frame<AdtsFormat>(data, size, first);
}

uint32_t stream_byte_rate(StreamFormat format, const uint8_t* first, size_t size,
                          const char* icy_br) {
    uint32_t rate = 0;
    if (format == StreamFormat::Mpeg) {
        MpegHeader h;
        if (probe_mpeg(first, size, &h))
            rate = clamp_byte_rate(static_cast<uint64_t>(h.bitrate_kbps) * kBytesPerKbit);
    } else if (format == StreamFormat::Adts) {
        rate = clamp_byte_rate(adts_byte_rate(first, size));
    } else if (format == StreamFormat::Ogg) {
        OggPageReader pages;
        pages.push(first, size);
        OggPage page;
        if (pages.next_page(&page)) rate = vorbis_byte_rate(page.body, page.body_size);
    }
    if (rate == 0) rate = icy_br_byte_rate(icy_br);
    return rate ? rate : kDefaultByteRate;
}

BufferPlan plan_buffer(uint32_t byte_rate, size_t first_bytes) {
    const uint64_t rate = byte_rate ? clamp_byte_rate(byte_rate) : kDefaultByteRate;
    BufferPlan plan;
    const uint64_t wanted = rate * kBufferMs / 1000;
    plan.capacity = static_cast<size_t>(std::clamp<uint64_t>(wanted, kMinBufferBytes, kMaxBufferBytes));
    plan.capacity = std::max(plan.capacity, first_bytes);
    plan.prebuffer = std::min<uint64_t>(rate * kPrebufferMs / 1000, plan.capacity);
    return plan;
}

uint64_t prebuffer_wanted(const BufferPlan& plan, uint32_t percent) {
    return plan.prebuffer * std::min(percent, kMaxPercent) / kMaxPercent;
}

}  // namespace engine
