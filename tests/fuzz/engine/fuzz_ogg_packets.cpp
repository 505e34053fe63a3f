#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/codec/ogg_page.h"
#include "engine/codec/ogg_stream.h"
#include "engine/codec/vorbis_codec.h"

// Arbitrary packets framed into pages with correct checksums, so the fuzzer
// gets past our page checks into the header checks and the reference decoders
// (Vorbis or Opus, by the first packet of each logical stream) themselves. Input: records of a length byte pair (little-endian; the top bit
// starts a new logical stream) and that many packet bytes.
namespace {

constexpr size_t kMaxPacket = 255 * 254;  // one page's lacing holds it
constexpr uint16_t kNewStream = 0x8000;

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> page(const uint8_t* packet, size_t size, uint32_t serial, uint32_t sequence,
                          bool bos) {
    std::vector<uint8_t> p(engine::kOggHeaderBytes, 0);
    p[0] = 'O';
    p[1] = 'g';
    p[2] = 'g';
    p[3] = 'S';
    p[5] = bos ? 0x02 : 0x00;
    put_le32(&p[14], serial);
    put_le32(&p[18], sequence);
    std::vector<uint8_t> lacing(size / 255, 255);
    lacing.push_back(static_cast<uint8_t>(size % 255));
    p[26] = static_cast<uint8_t>(lacing.size());
    p.insert(p.end(), lacing.begin(), lacing.end());
    p.insert(p.end(), packet, packet + size);
    put_le32(&p[22], engine::ogg_page_checksum(p.data(), p.size()));
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    std::vector<uint8_t> stream;
    uint32_t serial = 1, sequence = 0;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint16_t word = static_cast<uint16_t>(data[at] | data[at + 1] << 8);
        at += 2;
        size_t n = word & ~kNewStream;
        if (n > size - at) n = size - at;
        if (n > kMaxPacket) n = kMaxPacket;
        const bool bos = sequence == 0 || (word & kNewStream);
        if (bos && sequence != 0) {
            ++serial;
            sequence = 0;
        }
        const auto p = page(data + at, n, serial, sequence++, bos);
        stream.insert(stream.end(), p.begin(), p.end());
        at += n;
    }
    OggStream v;
    std::vector<float> pcm(1024 * kOggOutChannels);
    size_t fed = 0;
    for (int idle = 0; idle < 2;) {
        if (fed < stream.size()) fed += v.push(stream.data() + fed, stream.size() - fed);
        const size_t frames = v.decode(pcm.data(), 1024);
        if (frames > 0) {
            const int ch = v.channels();
            if (ch < 1 || ch > kOggOutChannels || frames > 1024) __builtin_trap();
            if (v.sample_rate() < static_cast<int>(kMinVorbisRate) ||
                v.sample_rate() > static_cast<int>(kMaxVorbisRate))
                __builtin_trap();
        }
        if (v.failed()) break;
        idle = frames == 0 && fed >= stream.size() ? idle + 1 : 0;
    }
    return 0;
}
