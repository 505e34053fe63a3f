// MPEG transport stream segments: 188-byte packets, PAT -> PMT -> the first
// audio elementary stream and the ID3 timed-metadata stream, each PES put
// back together and handed out with its PTS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/hls/segment.h"

namespace engine::hls {

constexpr size_t kTsPacketBytes = 188;
constexpr uint8_t kTsSyncByte = 0x47;
constexpr size_t kMaxPesBytes = 256 * 1024;        // a PES longer than this is TooLarge
constexpr size_t kMaxTsResyncBytes = 64 * 1024;    // garbage skipped in one run before Malformed
constexpr size_t kMaxTsPrograms = 32;              // PAT entries looked at

// Stream types (ISO/IEC 13818-1 table 2-34, and the HLS sample-encryption ones).
constexpr uint8_t kStreamTypeMpeg1Audio = 0x03;
constexpr uint8_t kStreamTypeMpeg2Audio = 0x04;
constexpr uint8_t kStreamTypeAdts = 0x0F;
constexpr uint8_t kStreamTypeLatm = 0x11;
constexpr uint8_t kStreamTypeMetadata = 0x15;
constexpr uint8_t kStreamTypeAc3 = 0x81;
constexpr uint8_t kStreamTypeEac3 = 0x87;
constexpr uint8_t kStreamTypeSampleAesAdts = 0xCF;
constexpr uint8_t kStreamTypeSampleAesAc3 = 0xC1;
constexpr uint8_t kStreamTypeSampleAesEac3 = 0xC2;

// The CRC of PSI sections (CRC-32/MPEG-2): 0 over a whole section, CRC included.
uint32_t mpeg_crc32(const uint8_t* data, size_t size);

// Audio comes out as AudioChunks, one per PES, the payload as it is; the
// metadata stream's PES payloads are read as ID3 tags and those naming a
// title come out as TimedTitles with the PES's PTS. A lost sync byte is
// found again (the next three sync bytes 188 apart); a continuity counter
// that skips marks the next chunk after_gap and drops the PES it broke.
// Only an unplayable audio stream with no playable one is Unsupported.
class TsDemuxer : public SegmentDemuxer {
public:
    DemuxStatus push(const uint8_t* data, size_t size, SegmentOutput* out) override;
    DemuxStatus end(SegmentOutput* out) override;
    DemuxStatus status() const override { return status_; }
    uint32_t gaps() const override { return gaps_; }

    uint8_t audio_stream_type() const { return audio_type_; }  // 0 until the PMT names one

private:
    struct Pes {
        int pid = -1;
        std::vector<uint8_t> bytes;
        bool started = false;    // a unit start was seen: bytes hold a PES
        bool broken = false;     // a gap hit it: dropped at its end
        bool after_gap = false;  // the next chunk follows lost bytes
        int last_cc = -1;
    };

    void run(bool at_end, SegmentOutput* out);
    void packet(const uint8_t* p, SegmentOutput* out);
    void section(const uint8_t* payload, size_t size, bool unit_start, uint16_t pid);
    void pat(const uint8_t* s, size_t size);
    void pmt(const uint8_t* s, size_t size);
    void pes_packet(Pes& pes, const uint8_t* payload, size_t size, bool unit_start,
                    SegmentOutput* out);
    void finish_pes(Pes& pes, SegmentOutput* out);
    void fail(DemuxStatus status);

    DemuxStatus status_ = DemuxStatus::Ok;
    std::vector<uint8_t> held_;       // bytes not yet cut into packets
    bool synced_ = true;              // held_ starts at a packet boundary
    size_t skipped_ = 0;              // garbage bytes in the current run
    int pmt_pid_ = -1;
    bool have_pmt_ = false;
    std::vector<uint8_t> section_;    // a PSI section being gathered
    int section_pid_ = -1;
    uint8_t audio_type_ = 0;
    Pes audio_, id3_;
    uint32_t gaps_ = 0;
};

}  // namespace engine::hls
