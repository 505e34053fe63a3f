// Ogg framing: pages found in a byte stream by capture pattern and CRC, and
// packets reassembled from the lacing of one logical stream's pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

constexpr size_t kOggHeaderBytes = 27;
constexpr size_t kOggMaxPageBytes = 27 + 255 + 255 * 255;  // 65307
constexpr size_t kOggMaxPacketBytes = 1 << 20;  // longer packets are dropped

struct OggPage {
    const uint8_t* data = nullptr;  // the whole page (header, lacing, body); valid
    size_t size = 0;                // until the next push() or next_page()
    uint8_t header_type = 0;
    bool continued() const { return header_type & 0x01; }
    bool bos() const { return header_type & 0x02; }
    bool eos() const { return header_type & 0x04; }
    int64_t granule = 0;
    uint32_t serial = 0;
    uint32_t sequence = 0;
    uint8_t segments = 0;
    const uint8_t* lacing = nullptr;  // `segments` lacing values
    const uint8_t* body = nullptr;
    size_t body_size = 0;
};

// Ogg and Vorbis headers store numbers little-endian.
inline uint32_t read_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t ogg_crc(const uint8_t* data, size_t size);  // CRC-32, polynomial 0x04c11db7, no reflection
// Checksum of a whole page (size bytes), computed as if its checksum field were zero.
uint32_t ogg_page_checksum(const uint8_t* page, size_t size);

// Cuts pages out of a byte stream. Anything that is not a page with a correct
// checksum (garbage, a stream joined mid-page, a damaged page) is skipped.
class OggPageReader {
public:
    OggPageReader();
    // Appends up to the free room (two maximal pages); returns bytes taken.
    size_t push(const uint8_t* data, size_t size);
    bool next_page(OggPage* out);
    uint64_t skipped_bytes() const { return skipped_; }
    size_t buffered() const { return size_ - pos_; }

private:
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, size_ = 0;
    uint64_t skipped_ = 0;
};

struct OggPacket {
    std::vector<uint8_t> data;
    bool first = false;      // first packet of its logical stream (from a BOS page)
    bool last = false;       // ends on an EOS page
    int64_t granule = -1;    // page granule when the packet ends a page, else -1
};

// Reassembles the packets of one logical stream from its pages, in order.
// A packet broken by a lost page (sequence gap, or a continued page without a
// started packet) is dropped rather than passed on half.
class OggPacketAssembler {
public:
    void reset();
    // Feeds a page of the stream; complete packets are appended to *out.
    void add_page(const OggPage& page, std::vector<OggPacket>* out);

private:
    std::vector<uint8_t> partial_;
    bool have_partial_ = false;
    bool partial_first_ = false;
    bool dropping_ = false;
    bool have_sequence_ = false;
    uint32_t next_sequence_ = 0;
};

}  // namespace engine
