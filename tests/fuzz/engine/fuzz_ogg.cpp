#include <cstdint>
#include <vector>

#include "engine/codec/ogg_page.h"
#include "engine/codec/ogg_stream.h"
#include "engine/codec/vorbis_codec.h"
#include "tests/fuzz/engine/pieces.h"

// Pages must check out and packets stay bounded; the Ogg stream (our page
// and header checks in front of libvorbis and libopus) must not misbehave on
// any input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    OggPageReader reader;
    OggPacketAssembler assembler;
    OggStream ogg;
    std::vector<OggPacket> packets;
    std::vector<float> pcm(1024 * kOggOutChannels);
    for (const auto& piece : engine_fuzz::pieces(data, size)) {
        for (size_t v = 0; v < piece.size();) {
            const size_t k = ogg.push(piece.data() + v, piece.size() - v);
            v += k;
            if (ogg.decode(pcm.data(), 1024) == 0 && k == 0) break;
        }
        size_t at = 0;
        while (at < piece.size()) {
            const size_t n = reader.push(piece.data() + at, piece.size() - at);
            at += n;
            OggPage page;
            while (reader.next_page(&page)) {
                if (ogg_page_checksum(page.data, page.size) != read_le32(page.data + 22))
                    __builtin_trap();
                assembler.add_page(page, &packets);
                for (const auto& p : packets) {
                    if (p.data.size() > kOggMaxPacketBytes) __builtin_trap();
                    std::string vendor;
                    std::vector<std::string> comments;
                    if (parse_vorbis_comments(p.data.data(), p.data.size(), &vendor, &comments) &&
                        comments.size() > kMaxOggComments)
                        __builtin_trap();
                }
                packets.clear();
            }
            if (n == 0) break;
        }
    }
    OggChange c;
    while (ogg.take_change(&c)) {
        if (c.channels <= 0 || c.channels > kOggOutChannels || c.sample_rate <= 0) __builtin_trap();
    }
    return 0;
}
