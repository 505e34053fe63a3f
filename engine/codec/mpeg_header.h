// MPEG audio (MPEG-1, MPEG-2, MPEG-2.5; layers I-III) frame headers, and a
// framer that cuts a byte stream into whole frames for the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Headers of one stream agree in version, layer, sample rate and whether they
// are mono. Bit rate, padding and stereo mode may vary frame to frame.
bool mpeg_headers_consistent(const MpegHeader& a, const MpegHeader& b);

// Whether kMpegLockFrames (or `count`) headers follow each other from p, each
// where the one before says its frame ends, all consistent. With at_end, a
// chain that runs exactly to the end of the data also counts.
enum class MpegChain { No, Yes, NeedMore };
MpegChain mpeg_check_chain(const uint8_t* p, size_t avail, int count, bool at_end,
                           MpegHeader* first);

// Total size of an ID3v2 tag at p (header, body and footer); 0 when there is
// none. Needs 10 bytes (fewer: 0).
size_t id3v2_tag_size(const uint8_t* p, size_t avail);

struct MpegFrame {
    const uint8_t* data = nullptr;  // valid until the next push() or next_frame()
    size_t size = 0;
    MpegHeader header;
    bool format_changed = false;  // first frame, or sample rate/channels differ from before
};

// Finds frames in a byte stream that may start mid-frame, carry garbage or an
// ID3v2 tag, or lose bytes. Before it trusts a header it sees kMpegLockFrames
// consistent headers in a row; while locked, a frame is passed on only if the
// next frame's header follows where it should (or the stream has ended), so a
// lost frame costs a resync, never a corrupt frame for the decoder.
constexpr int kMpegLockFrames = 3;
constexpr size_t kMpegFramerCapacity = 16 * 1024;

class MpegFramer {
public:
    MpegFramer();

    // Appends up to the free room (kMpegFramerCapacity minus what is held);
    // returns how many bytes were taken.
    size_t push(const uint8_t* data, size_t size);
    // Marks the end of the stream: the last frame is passed on without a
    // following header.
    void end() { ended_ = true; }

    // Next whole frame, or false when more bytes are needed.
    bool next_frame(MpegFrame* out);

    size_t buffered() const { return size_ - pos_; }
    uint64_t skipped_bytes() const { return skipped_; }  // garbage and lost pieces
    bool locked() const { return locked_; }

private:
    bool try_lock();
    void compact();
    void skip(size_t n);

    std::vector<uint8_t> buf_;
    size_t pos_ = 0, size_ = 0;
    bool locked_ = false;
    bool ended_ = false;
    bool have_format_ = false;
    MpegHeader format_;  // of the last frame passed on
    MpegHeader lock_;    // the header the lock was found with
    uint64_t skipped_ = 0;
    uint64_t id3_left_ = 0;
};

}  // namespace engine
