#include "engine/hls/ts_demux.h"

#include <algorithm>
#include <cstring>

#include "engine/hls/id3.h"

namespace engine::hls {

namespace {

constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr uint8_t kPatTableId = 0x00;
constexpr uint8_t kPmtTableId = 0x02;
constexpr size_t kSectionHeaderBytes = 3;  // table id and the section length
constexpr size_t kMaxSectionBytes = 1024;  // PAT and PMT sections are at most 1021 + 3
constexpr size_t kPatEntriesAt = 8;
constexpr size_t kPatEntryBytes = 4;
constexpr size_t kPmtInfoLengthAt = 10;
constexpr size_t kPmtStreamsAt = 12;
constexpr size_t kPmtStreamBytes = 5;
constexpr size_t kCrcBytes = 4;
constexpr uint32_t kCrcPolynomial = 0x04C11DB7;
constexpr uint8_t kRegistrationDescriptor = 0x05;
constexpr uint8_t kMetadataDescriptor = 0x26;
constexpr uint16_t kFormatByIdentifier = 0xFFFF;  // metadata_application_format
constexpr uint8_t kMetadataFormatByIdentifier = 0xFF;
constexpr char kId3Identifier[] = "ID3 ";
constexpr size_t kIdentifierBytes = 4;
constexpr int kSyncConfirmations = 3;  // sync bytes 188 apart before a resync is trusted
constexpr size_t kPesHeaderBytes = 9;
constexpr size_t kPesLengthAt = 4;
constexpr size_t kPesFixedBytes = 6;  // start code, stream id, length
constexpr size_t kPtsBytes = 5;
constexpr int kCcModulo = 16;
constexpr size_t kTsChunkBytes = 64 * 1024;  // bytes taken into held_ at a time

bool payload_of(const uint8_t* p, const uint8_t** payload, size_t* size, bool* discontinuity) {
    const int afc = (p[3] >> 4) & 3;
    size_t at = 4;
    *discontinuity = false;
    if (afc & 2) {
        const size_t len = p[4];
        if (len > kTsPacketBytes - 5) return false;
        if (len > 0) *discontinuity = (p[5] & 0x80) != 0;
        at += 1 + len;
    }
    *payload = p + at;
    *size = (afc & 1) ? kTsPacketBytes - at : 0;
    return afc != 0;
}

// Whether the ES descriptors of a metadata stream name ID3.
bool names_id3(const uint8_t* d, size_t n) {
    size_t at = 0;
    while (n - at >= 2) {
        const uint8_t tag = d[at];
        const size_t len = d[at + 1];
        if (len > n - at - 2) return false;
        const uint8_t* body = d + at + 2;
        if (tag == kRegistrationDescriptor && len >= kIdentifierBytes &&
            std::memcmp(body, kId3Identifier, kIdentifierBytes) == 0)
            return true;
        if (tag == kMetadataDescriptor && len >= 2) {
            size_t k = 2;
            if ((body[0] << 8 | body[1]) == kFormatByIdentifier) k += kIdentifierBytes;
            if (k < len && body[k] == kMetadataFormatByIdentifier && len - k - 1 >= kIdentifierBytes &&
                std::memcmp(body + k + 1, kId3Identifier, kIdentifierBytes) == 0)
                return true;
        }
        at += 2 + len;
    }
    return false;
}

bool playable_audio(uint8_t type) {
    return type == kStreamTypeAdts || type == kStreamTypeMpeg1Audio || type == kStreamTypeMpeg2Audio;
}

bool unplayable_audio(uint8_t type) {
    return type == kStreamTypeLatm || type == kStreamTypeAc3 || type == kStreamTypeEac3 ||
           type == kStreamTypeSampleAesAdts || type == kStreamTypeSampleAesAc3 ||
           type == kStreamTypeSampleAesEac3;
}

int64_t read_pts(const uint8_t* p) {
    return (int64_t{p[0] & 0x0E} << 29) | (int64_t{p[1]} << 22) | (int64_t{p[2] & 0xFE} << 14) |
           (int64_t{p[3]} << 7) | (p[4] >> 1);
}

// Stream ids whose PES has no optional header (13818-1, 2.4.3.7).
bool has_optional_header(uint8_t stream_id) {
    switch (stream_id) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return false;
    default:
        return true;
    }
}

}  // namespace

uint32_t mpeg_crc32(const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint32_t{p[i]} << 24;
        for (int b = 0; b < 8; ++b) crc = crc & 0x80000000 ? (crc << 1) ^ kCrcPolynomial : crc << 1;
    }
    return crc;
}

void TsDemuxer::fail(DemuxStatus status) {
    if (status_ == DemuxStatus::Ok) status_ = status;
}

DemuxStatus TsDemuxer::push(const uint8_t* data, size_t size, SegmentOutput* out) {
    while (size > 0 && status_ == DemuxStatus::Ok) {
        const size_t n = std::min(size, kTsChunkBytes);
        held_.insert(held_.end(), data, data + n);
        data += n;
        size -= n;
        run(false, out);
    }
    return status_;
}

DemuxStatus TsDemuxer::end(SegmentOutput* out) {
    if (status_ != DemuxStatus::Ok) return status_;
    run(true, out);
    if (status_ != DemuxStatus::Ok) return status_;
    finish_pes(audio_, out);
    finish_pes(id3_, out);
    if (audio_.pid < 0) fail(DemuxStatus::NoAudio);
    return status_;
}

void TsDemuxer::run(bool at_end, SegmentOutput* out) {
    size_t at = 0;
    const size_t n = held_.size();
    while (status_ == DemuxStatus::Ok && n - at >= kTsPacketBytes) {
        if (synced_ && held_[at] == kTsSyncByte) {
            // The next packet's sync byte too, so bytes lost inside this one
            // cost only this one.
            if (n - at < 2 * kTsPacketBytes && !at_end) break;
            if (n - at >= 2 * kTsPacketBytes && held_[at + kTsPacketBytes] != kTsSyncByte) {
                synced_ = false;
                continue;
            }
            packet(held_.data() + at, out);
            at += kTsPacketBytes;
            skipped_ = 0;
            continue;
        }
        // Lost sync: the next sync byte with more of them 188 apart (at the
        // end of the segment, as many as there is room for).
        synced_ = false;
        bool found = false, wait = false;
        while (!found && !wait && n - at >= kTsPacketBytes) {
            if (held_[at] == kTsSyncByte) {
                int seen = 1;
                size_t next = at + kTsPacketBytes;
                for (; seen < kSyncConfirmations && next < n && held_[next] == kTsSyncByte;
                     ++seen, next += kTsPacketBytes) {
                }
                const bool out_of_bytes = seen < kSyncConfirmations && next >= n;
                found = seen == kSyncConfirmations || (out_of_bytes && at_end);
                wait = out_of_bytes && !at_end;
            }
            if (found || wait) break;
            ++at;
            if (++skipped_ > kMaxTsResyncBytes) return fail(DemuxStatus::Malformed);
        }
        if (!found) break;
        synced_ = true;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
}

void TsDemuxer::packet(const uint8_t* p, SegmentOutput* out) {
    if (p[1] & 0x80) return;  // transport error: the packet is not to be read
    const bool unit_start = (p[1] & 0x40) != 0;
    const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
    if (pid == kNullPid) return;
    const int cc = p[3] & 0x0F;
    const uint8_t* payload = nullptr;
    size_t size = 0;
    bool discontinuity = false;
    if (!payload_of(p, &payload, &size, &discontinuity)) return;
    const bool scrambled = (p[3] >> 6) != 0;

    if (pid == kPatPid || (pmt_pid_ >= 0 && pid == pmt_pid_)) {
        if (!scrambled && size > 0) section(payload, size, unit_start, pid);
        return;
    }
    Pes* pes = nullptr;
    if (pid == audio_.pid) pes = &audio_;
    if (pid == id3_.pid) pes = &id3_;
    if (!pes) return;
    if (scrambled) {
        if (pes == &audio_) fail(DemuxStatus::Unsupported);
        return;
    }
    if (size > 0) {
        if (pes->last_cc >= 0 && !discontinuity) {
            if (cc == pes->last_cc) return;  // a repeated packet
            if (cc != (pes->last_cc + 1) % kCcModulo) {
                ++gaps_;
                pes->broken = true;
                pes->after_gap = true;
            }
        }
        pes->last_cc = cc;
    }
    if (size > 0 || unit_start) pes_packet(*pes, payload, size, unit_start, out);
}

void TsDemuxer::section(const uint8_t* payload, size_t size, bool unit_start, uint16_t pid) {
    if (unit_start) {
        const size_t pointer = payload[0];
        if (pointer + 1 > size) {
            section_.clear();
            return;
        }
        section_.assign(payload + 1 + pointer, payload + size);
        section_pid_ = pid;
    } else {
        if (section_.empty() || section_pid_ != pid) return;
        section_.insert(section_.end(), payload, payload + size);
    }
    if (section_.size() < kSectionHeaderBytes) return;
    const size_t length = kSectionHeaderBytes + ((section_[1] & 0x0F) << 8 | section_[2]);
    if (length > kMaxSectionBytes) {
        section_.clear();
        return;
    }
    if (section_.size() < length) return;
    std::vector<uint8_t> s(section_.begin(), section_.begin() + static_cast<std::ptrdiff_t>(length));
    section_.clear();
    if (length < kPatEntriesAt + kCrcBytes || mpeg_crc32(s.data(), s.size()) != 0) return;
    if (!(s[1] & 0x80) || !(s[5] & 0x01)) return;  // no long form, or not yet applicable
    if (pid == kPatPid && s[0] == kPatTableId) pat(s.data(), s.size());
    else if (s[0] == kPmtTableId) pmt(s.data(), s.size());
}

void TsDemuxer::pat(const uint8_t* s, size_t size) {
    if (pmt_pid_ >= 0) return;
    const size_t end = size - kCrcBytes;
    size_t programs = 0;
    for (size_t at = kPatEntriesAt; end - at >= kPatEntryBytes && programs < kMaxTsPrograms;
         at += kPatEntryBytes, ++programs) {
        const uint16_t program = static_cast<uint16_t>(s[at] << 8 | s[at + 1]);
        if (program == 0) continue;  // the network PID
        const uint16_t pid = static_cast<uint16_t>((s[at + 2] & 0x1F) << 8 | s[at + 3]);
        if (pid == kPatPid || pid == kNullPid) continue;
        pmt_pid_ = pid;
        return;
    }
}

void TsDemuxer::pmt(const uint8_t* s, size_t size) {
    if (have_pmt_ || size < kPmtStreamsAt + kCrcBytes) return;
    const size_t end = size - kCrcBytes;
    const size_t info = (s[kPmtInfoLengthAt] & 0x0F) << 8 | s[kPmtInfoLengthAt + 1];
    if (info > end - kPmtStreamsAt) return;
    have_pmt_ = true;
    bool unplayable = false;
    for (size_t at = kPmtStreamsAt + info; end - at >= kPmtStreamBytes;) {
        const uint8_t type = s[at];
        const int pid = (s[at + 1] & 0x1F) << 8 | s[at + 2];
        const size_t es_info = (s[at + 3] & 0x0F) << 8 | s[at + 4];
        if (es_info > end - at - kPmtStreamBytes) break;
        const uint8_t* descriptors = s + at + kPmtStreamBytes;
        if (playable_audio(type) && audio_.pid < 0) {
            audio_.pid = pid;
            audio_type_ = type;
        } else if (unplayable_audio(type)) {
            unplayable = true;
        } else if (type == kStreamTypeMetadata && id3_.pid < 0 && names_id3(descriptors, es_info)) {
            id3_.pid = pid;
        }
        at += kPmtStreamBytes + es_info;
    }
    if (audio_.pid == id3_.pid) id3_.pid = -1;
    if (audio_.pid < 0) fail(unplayable ? DemuxStatus::Unsupported : DemuxStatus::NoAudio);
}

void TsDemuxer::pes_packet(Pes& pes, const uint8_t* payload, size_t size, bool unit_start,
                           SegmentOutput* out) {
    if (unit_start) {
        finish_pes(pes, out);
        pes.started = true;
        pes.broken = false;
    }
    if (!pes.started || pes.broken) return;
    if (pes.bytes.size() + size > kMaxPesBytes) return fail(DemuxStatus::TooLarge);
    pes.bytes.insert(pes.bytes.end(), payload, payload + size);
    // A PES that says its length ends there: hand it out without waiting for the next.
    if (pes.bytes.size() >= kPesFixedBytes) {
        const size_t length = pes.bytes[kPesLengthAt] << 8 | pes.bytes[kPesLengthAt + 1];
        if (length != 0 && pes.bytes.size() >= kPesFixedBytes + length) finish_pes(pes, out);
    }
}

void TsDemuxer::finish_pes(Pes& pes, SegmentOutput* out) {
    std::vector<uint8_t> bytes;
    bytes.swap(pes.bytes);
    const bool usable = pes.started && !pes.broken;
    pes.started = false;
    if (!usable || bytes.size() < kPesHeaderBytes) return;
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1) return;
    const size_t length = bytes[kPesLengthAt] << 8 | bytes[kPesLengthAt + 1];
    size_t end = bytes.size();
    if (length != 0) end = std::min(end, kPesFixedBytes + length);
    size_t at = kPesFixedBytes;
    int64_t pts = kNoTime;
    if (has_optional_header(bytes[3])) {
        if ((bytes[6] & 0xC0) != 0x80) return;
        const size_t header = bytes[8];
        if (kPesHeaderBytes + header > end) return;
        if ((bytes[7] & 0x80) && header >= kPtsBytes) pts = read_pts(bytes.data() + kPesHeaderBytes);
        at = kPesHeaderBytes + header;
    }
    if (at >= end) return;
    if (&pes == &audio_) {
        AudioChunk chunk;
        chunk.kind = audio_type_ == kStreamTypeAdts ? AudioKind::Adts : AudioKind::Mpeg;
        chunk.time = pts;
        chunk.after_gap = pes.after_gap;
        pes.after_gap = false;
        chunk.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(end));
        out->audio.push_back(std::move(chunk));
        return;
    }
    // Timed metadata: one or more ID3 tags back to back.
    while (end - at >= kId3HeaderBytes) {
        Id3Tag tag;
        if (parse_id3(bytes.data() + at, end - at, &tag) != Id3Status::Ok) break;
        std::string text = id3_title(tag);
        if (!text.empty()) out->titles.push_back({pts, std::move(text)});
        at += tag.size;
    }
}

}  // namespace engine::hls
