// What every HLS segment kind (MPEG-TS, packed audio, fMP4) comes out as, so
// the engine has one loop for all of them:
//
//   AudioChunk  elementary audio bytes of one kind (ADTS frames, or MPEG audio
//               frames) and the time of their first access unit;
//   TimedTitle  a title from ID3 timed metadata and the time it is heard.
//
// Times are in 90 kHz ticks. MPEG-TS and packed audio give their 33-bit PTS
// as sent (0 to 2^33-1: they wrap about every 26.5 hours; pts_unwrap() makes
// them continuous); fMP4 gives its decode time scaled to 90 kHz (64-bit, no
// wrap). kNoTime when the segment did not say.
//
// A demuxer is fed a segment's bytes as they arrive, in pieces of any size,
// then told the segment ended. It never holds more than its bounds; hostile
// bytes make it stop with an error, not crash. One demuxer per segment is the
// simple use (push an EXT-X-MAP section's bytes first when the playlist has
// one); keeping one across the segments of a rendition also works, then
// continuity counters are checked across segment boundaries as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine::hls {

constexpr int64_t kNoTime = -1;
constexpr int64_t kHlsClockHz = 90000;
constexpr int64_t kPtsModulo = int64_t{1} << 33;

// The value with the low 33 bits of `pts` (a 33-bit PTS) that is nearest
// `reference` (an earlier unwrapped time); `pts` itself when reference is kNoTime.
int64_t pts_unwrap(int64_t reference, int64_t pts);

enum class AudioKind {
    Adts,  // AAC in ADTS frames (fMP4 access units come wrapped in ADTS headers)
    Mpeg,  // MPEG-1/2 audio frames (MP3, MP2) as they are
};

struct AudioChunk {
    AudioKind kind = AudioKind::Adts;
    int64_t time = kNoTime;      // 90 kHz; of the first access unit that starts in `bytes`
    bool after_gap = false;      // bytes were lost right before this chunk (TS continuity)
    std::vector<uint8_t> bytes;  // MPEG-TS: a PES payload, frames may straddle chunks;
                                 // packed audio: whole frames; fMP4: one ADTS-wrapped unit
};

struct TimedTitle {
    int64_t time = kNoTime;  // 90 kHz, same clock as the audio
    std::string text;        // UTF-8: "Artist - Title", or the title alone
};

struct SegmentOutput {
    std::vector<AudioChunk> audio;
    std::vector<TimedTitle> titles;
};

enum class DemuxStatus {
    Ok,
    Unsupported,  // a stream we recognise and cannot play (LATM, encrypted samples,
                  // a codec we do not decode, an AAC configuration ADTS cannot carry)
    Malformed,    // broken structure that cannot be skipped over
    TooLarge,     // a PES, box, tag or count over its bound
    NoAudio,      // (at end) the segment had no audio stream we could find
};

class SegmentDemuxer {
public:
    virtual ~SegmentDemuxer() = default;
    // The next bytes of the segment; appends what they complete to *out.
    // Returns status(): once it is not Ok, later bytes are ignored.
    virtual DemuxStatus push(const uint8_t* data, size_t size, SegmentOutput* out) = 0;
    // The segment's bytes are all there: hands out what was held back (the
    // last PES) and checks that audio was found.
    virtual DemuxStatus end(SegmentOutput* out) = 0;
    virtual DemuxStatus status() const = 0;
    // Whether the stream says the AAC is HE-AAC (SBR): only fMP4 can tell;
    // otherwise the playlist's CODECS must (mp4a.40.5 / mp4a.40.29).
    virtual bool he_aac() const { return false; }
    // Times a continuity counter skipped (TS) so far.
    virtual uint32_t gaps() const { return 0; }
};

enum class SegmentFormat {
    Unknown,
    MpegTs,       // 0x47 sync bytes 188 apart
    PackedAudio,  // an ID3 tag, ADTS or MPEG audio frames
    Fmp4,         // ISO BMFF boxes (styp, moof, sidx, ftyp, moov, emsg, prft, free)
};

constexpr size_t kSegmentSniffBytes = 2 * 188 + 1;  // enough for sniff_segment()

// Decides from the first bytes of a segment (with an EXT-X-MAP, of the map).
SegmentFormat sniff_segment(const uint8_t* data, size_t size);

struct Fmp4Init;  // fmp4.h

// A demuxer for the format, null for Unknown. For Fmp4 `init` may be null:
// the demuxer then reads the init from a moov pushed before the fragments.
std::unique_ptr<SegmentDemuxer> make_segment_demuxer(SegmentFormat format, const Fmp4Init* init);

}  // namespace engine::hls
