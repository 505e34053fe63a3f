#include "engine/codec/ogg_page.h"

#include <array>
#include <cstring>

namespace engine {
namespace {

constexpr size_t kChecksumOffset = 22;

std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
        t[i] = r;
    }
    return t;
}

const std::array<uint32_t, 256>& crc_table() {
    static const std::array<uint32_t, 256> table = make_crc_table();
    return table;
}

uint32_t crc_update(uint32_t crc, const uint8_t* data, size_t size) {
    const auto& t = crc_table();
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ t[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

}  // namespace

uint32_t ogg_crc(const uint8_t* data, size_t size) { return crc_update(0, data, size); }

uint32_t ogg_page_checksum(const uint8_t* page, size_t size) {
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    if (size < kOggHeaderBytes) return crc_update(0, page, size);
    uint32_t crc = crc_update(0, page, kChecksumOffset);
    crc = crc_update(crc, zeros, 4);
    return crc_update(crc, page + kChecksumOffset + 4, size - kChecksumOffset - 4);
}

OggPageReader::OggPageReader() : buf_(2 * kOggMaxPageBytes) {}

size_t OggPageReader::push(const uint8_t* data, size_t size) {
    if (pos_ > 0 && size > buf_.size() - size_) {
        std::memmove(buf_.data(), buf_.data() + pos_, size_ - pos_);
        size_ -= pos_;
        pos_ = 0;
    }
    const size_t room = buf_.size() - size_;
    if (size > room) size = room;
    if (size) std::memcpy(&buf_[size_], data, size);
    size_ += size;
    return size;
}

bool OggPageReader::next_page(OggPage* out) {
    for (;;) {
        const size_t avail = size_ - pos_;
        const uint8_t* p = buf_.data() + pos_;
        // Find the capture pattern; keep a possible partial one at the end.
        size_t at = 0;
        while (at + 4 <= avail && std::memcmp(p + at, "OggS", 4) != 0) ++at;
        if (at + 4 > avail) {
            size_t keep = 0;
            for (size_t k = 3; k > 0; --k) {
                if (avail >= k && std::memcmp(p + avail - k, "OggS", k) == 0) {
                    keep = k;
                    break;
                }
            }
            pos_ += avail - keep;
            skipped_ += avail - keep;
            return false;
        }
        pos_ += at;
        skipped_ += at;
        p += at;
        const size_t left = avail - at;
        if (left < kOggHeaderBytes) return false;
        const size_t segments = p[26];
        if (p[4] != 0) {  // only version 0 exists
            ++pos_;
            ++skipped_;
            continue;
        }
        if (left < kOggHeaderBytes + segments) return false;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) body += p[kOggHeaderBytes + i];
        const size_t total = kOggHeaderBytes + segments + body;
        if (left < total) return false;
        if (ogg_page_checksum(p, total) != read_le32(p + kChecksumOffset)) {
            ++pos_;  // not a page after all, or a damaged one
            ++skipped_;
            continue;
        }
        OggPage page;
        page.data = p;
        page.size = total;
        page.header_type = p[5];
        uint64_t granule = 0;
        for (int i = 7; i >= 0; --i) granule = (granule << 8) | p[6 + i];
        page.granule = static_cast<int64_t>(granule);
        page.serial = read_le32(p + 14);
        page.sequence = read_le32(p + 18);
        page.segments = static_cast<uint8_t>(segments);
        page.lacing = p + kOggHeaderBytes;
        page.body = p + kOggHeaderBytes + segments;
        page.body_size = body;
        pos_ += total;
        *out = page;
        return true;
    }
}

void OggPacketAssembler::reset() { *this = OggPacketAssembler(); }

void OggPacketAssembler::add_page(const OggPage& page, std::vector<OggPacket>* out) {
    const bool gap = have_sequence_ && page.sequence != next_sequence_;
    have_sequence_ = true;
    next_sequence_ = page.sequence + 1;
    if (page.bos()) {
        partial_.clear();
        have_partial_ = false;
        dropping_ = false;
    } else if (gap || (page.continued() != have_partial_)) {
        // Either the page before was lost, or the pages disagree about a packet
        // spanning them: whatever was started cannot be completed correctly.
        partial_.clear();
        have_partial_ = false;
        dropping_ = page.continued();
    }

    const size_t first_index = out->size();
    size_t offset = 0;
    bool first_packet_of_page = true;
    for (size_t i = 0; i < page.segments; ++i) {
        const size_t len = page.lacing[i];
        if (!have_partial_) {
            partial_first_ = page.bos() && first_packet_of_page;
            have_partial_ = true;
        }
        if (!dropping_) {
            if (partial_.size() + len > kOggMaxPacketBytes) {
                dropping_ = true;
                partial_.clear();
            } else {
                partial_.insert(partial_.end(), page.body + offset, page.body + offset + len);
            }
        }
        offset += len;
        if (len < 255) {  // packet ends here
            if (!dropping_) {
                OggPacket packet;
                packet.data.swap(partial_);
                packet.first = partial_first_;
                out->push_back(std::move(packet));
            }
            partial_.clear();
            have_partial_ = false;
            dropping_ = false;
            first_packet_of_page = false;
        }
    }
    if (out->size() > first_index) {
        out->back().granule = page.granule;
        out->back().last = page.eos() && !have_partial_;
    }
}

}  // namespace engine
