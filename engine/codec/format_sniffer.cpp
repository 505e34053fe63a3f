#include "engine/codec/format_sniffer.h"

#include <cstring>

#include "engine/codec/adts.h"
#include "engine/codec/mpeg_header.h"
#include "engine/codec/ogg_page.h"

namespace engine {
namespace {

enum class Probe { No, Yes, NeedMore };

// An Ogg page at p: capture pattern, version 0 and a matching checksum.
Probe ogg_page_at(const uint8_t* p, size_t avail, bool at_end) {
    if (avail < 4) return at_end ? Probe::No : Probe::NeedMore;
    if (std::memcmp(p, "OggS", 4) != 0) return Probe::No;
    if (avail < kOggHeaderBytes) return at_end ? Probe::No : Probe::NeedMore;
    if (p[4] != 0) return Probe::No;
    const size_t segments = p[26];
    if (avail < kOggHeaderBytes + segments) return at_end ? Probe::No : Probe::NeedMore;
    size_t total = kOggHeaderBytes + segments;
    for (size_t i = 0; i < segments; ++i) total += p[kOggHeaderBytes + i];
    if (avail < total) return at_end ? Probe::No : Probe::NeedMore;
    return ogg_page_checksum(p, total) == read_le32(p + 22) ? Probe::Yes : Probe::No;
}

}  // namespace

StreamFormat sniff_format(const uint8_t* data, size_t size, bool at_end) {
    size_t start = 0;
    if (size < 10 && !at_end && (size < 3 ? std::memcmp(data, "ID3", size) == 0
                                          : std::memcmp(data, "ID3", 3) == 0))
        return StreamFormat::NeedMore;
    const size_t tag = id3v2_tag_size(data, size);
    if (tag > kSniffMaxId3Bytes) return StreamFormat::Unknown;
    start = tag;
    if (start > size) return at_end ? StreamFormat::Unknown : StreamFormat::NeedMore;

    const size_t limit = start + kSniffLimit;
    bool undecided = false;
    for (size_t at = start; at < size && at < limit; ++at) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        if (p[0] == 'O') {
            const Probe o = ogg_page_at(p, avail, at_end);
            if (o == Probe::Yes) return undecided ? StreamFormat::NeedMore : StreamFormat::Ogg;
            if (o == Probe::NeedMore) undecided = true;
        } else if (p[0] == 0xFF) {
            // MPEG and ADTS share the sync bits; the layer field tells them apart.
            const MpegChain m = mpeg_check_chain(p, avail, kMpegLockFrames, at_end, nullptr);
            if (m == MpegChain::Yes) return undecided ? StreamFormat::NeedMore : StreamFormat::Mpeg;
            if (m == MpegChain::NeedMore) undecided = true;
            const SyncChain a = adts_check_chain(p, avail, kAdtsLockFrames, at_end, nullptr);
            if (a == SyncChain::Yes) return undecided ? StreamFormat::NeedMore : StreamFormat::Adts;
            if (a == SyncChain::NeedMore) undecided = true;
        }
    }
    // An earlier candidate still waiting for bytes decides first.
    if (undecided) return StreamFormat::NeedMore;
    if (size >= limit || at_end) return StreamFormat::Unknown;
    return StreamFormat::NeedMore;
}

}  // namespace engine
