// Packed audio segments: an ID3 tag whose PRIV frame gives the 33-bit PTS of
// the first frame, then ADTS or MPEG audio frames, maybe with more ID3 tags
// between frames (timed metadata, heard at the frame that follows them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/hls/segment.h"

namespace engine::hls {

constexpr size_t kPackedChunkFrames = 32;        // frames per AudioChunk handed out
constexpr size_t kMaxPackedSkipBytes = 64 * 1024;  // garbage skipped in one run before Malformed
constexpr size_t kFirstHeaderBytes = 7;

// Frames are found by their headers (ADTS or MPEG audio, decided by the
// first one); a frame's time is the segment's timestamp plus the duration of
// the frames before it. Bytes that are neither a frame nor an ID3 tag are
// skipped to the next header (a broken frame costs only itself). A segment
// with no timestamp gives times kNoTime.
class PackedAudioDemuxer : public SegmentDemuxer {
public:
    DemuxStatus push(const uint8_t* data, size_t size, SegmentOutput* out) override;
    DemuxStatus end(SegmentOutput* out) override;
    DemuxStatus status() const override { return status_; }

private:
    void run(bool at_end, SegmentOutput* out);
    // The frame at p if one starts there (n bytes available): its length
    // and samples; 0 when there is none, and *wait when more bytes may tell.
    size_t frame_at(const uint8_t* p, size_t n, bool at_end, int* samples, int* rate, bool* wait);
    int64_t now() const;  // the time of the next frame
    void flush(SegmentOutput* out);
    void fail(DemuxStatus status);

    DemuxStatus status_ = DemuxStatus::Ok;
    std::vector<uint8_t> held_;  // bytes not yet cut into frames or tags
    bool started_ = false;       // a frame was found: kind_ and first_ are known
    AudioKind kind_ = AudioKind::Adts;
    uint8_t first_[kFirstHeaderBytes] = {};  // the first frame's header, for consistency
    int64_t base_ = kNoTime;     // the last timestamp read
    uint64_t samples_ = 0;       // samples of the frames since then
    int sample_rate_ = 0;
    AudioChunk chunk_;           // frames gathered for the next chunk
    size_t chunk_frames_ = 0;
    size_t skipped_ = 0;         // bytes skipped in the current run
};

}  // namespace engine::hls
