// MPEG audio (MPEG-1, MPEG-2, MPEG-2.5; layers I-III) frame headers, and a
// framer that cuts a byte stream into whole frames for the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/codec/sync_framer.h"

namespace engine {

enum class MpegVersion { V1, V2, V25 };

struct MpegHeader {
    MpegVersion version = MpegVersion::V1;
    int layer = 0;              // 1, 2 or 3
    int bitrate_kbps = 0;
    int sample_rate = 0;        // Hz
    int channels = 0;           // 1 or 2
    int channel_mode = 0;       // 0 stereo, 1 joint, 2 dual, 3 mono
    bool padding = false;
    bool crc = false;           // a 16-bit CRC follows the header
    int frame_bytes = 0;        // whole frame including the header
    int samples_per_frame = 0;  // per channel
};

constexpr size_t kMpegHeaderBytes = 4;
constexpr size_t kMpegMaxFrameBytes = 1729;  // largest legal frame (layer II, 384 kbit/s, 32 kHz, padded)

// Parses the 4 bytes at p. False for no sync, reserved version/layer/rate,
// free-format or invalid bit rate, emphasis 2 (reserved), and for
// layer II bit-rate/mode pairs that the standard forbids.
bool parse_mpeg_header(const uint8_t* p, MpegHeader* out);

// True for an encoder's info frame ("Xing", "Info" or "VBRI" where the
// audio would begin): a valid frame that holds no sound, which decoded would
// be a frame of silence at the start of every file a station relays.
bool is_mpeg_info_frame(const uint8_t* frame, size_t size, const MpegHeader& h);

// Headers of one stream agree in version, layer, sample rate and whether they
// are mono. Bit rate, padding and stereo mode may vary frame to frame.
bool mpeg_headers_consistent(const MpegHeader& a, const MpegHeader& b);

// Whether kMpegLockFrames (or `count`) headers follow each other from p, each
// where the one before says its frame ends, all consistent. With at_end, a
// chain that runs exactly to the end of the data also counts.
using MpegChain = SyncChain;
MpegChain mpeg_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           MpegHeader* first);

// MPEG audio for the framer (sync_framer.h).
constexpr int kMpegLockFrames = 3;
constexpr size_t kMpegFramerCapacity = 16 * 1024;
struct MpegFormat {
    using Header = MpegHeader;
    static constexpr size_t kHeaderBytes = kMpegHeaderBytes;
    static constexpr int kLockFrames = kMpegLockFrames;
    static constexpr size_t kCapacity = kMpegFramerCapacity;
    static bool parse(const uint8_t* p, MpegHeader* out) { return parse_mpeg_header(p, out); }
    static bool consistent(const MpegHeader& a, const MpegHeader& b) {
        return mpeg_headers_consistent(a, b);
    }
    static size_t frame_bytes(const MpegHeader& h) { return static_cast<size_t>(h.frame_bytes); }
};

// MPEG frames out of a byte stream (see SyncFramer).
using MpegFramer = SyncFramer<MpegFormat>;
using MpegFrame = MpegFramer::Frame;

}  // namespace engine
