// ID3v2 tags as HLS uses them: timed metadata (titles) in MPEG-TS, packed
// audio and fMP4 'emsg' boxes, and the PRIV frame that gives a packed-audio
// segment its timestamp. Versions 2.2 to 2.4; text in encodings 0-3 comes
// out as UTF-8 (control characters as spaces); unsynchronisation (whole tag
// or per frame) is undone; compressed and encrypted frames are skipped;
// everything bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/hls/segment.h"

namespace engine::hls {

constexpr size_t kId3HeaderBytes = 10;
constexpr size_t kMaxId3TagBytes = 256 * 1024;  // header, body and footer
constexpr size_t kMaxId3Frames = 64;            // frames read from one tag; more are skipped
constexpr size_t kMaxId3TextBytes = 1024;       // a text value (UTF-8) longer is cut there
constexpr size_t kMaxId3PrivBytes = 256;        // PRIV data kept; longer is cut there
constexpr char kTransportStreamTimestampOwner[] = "com.apple.streaming.transportStreamTimestamp";

struct Id3Txxx {
    std::string description;
    std::string value;
};

struct Id3Priv {
    std::string owner;
    std::vector<uint8_t> data;  // at most kMaxId3PrivBytes
};

struct Id3Tag {
    int version = 0;           // 2, 3 or 4
    size_t size = 0;           // bytes the whole tag spans
    std::string title;         // TIT2
    std::string artist;        // TPE1
    std::vector<Id3Txxx> txxx;
    std::vector<Id3Priv> priv;
    int64_t timestamp = kNoTime;  // the transport stream timestamp PRIV: a 33-bit PTS
};

enum class Id3Status {
    Ok,
    NotId3,     // no "ID3" header
    NeedMore,   // the header says the tag is longer than the bytes given
    TooLarge,   // over kMaxId3TagBytes
    Malformed,  // a header field out of range
};

// Size of the ID3v2 tag at `data` from its header (footer included), 0 when
// there is no tag header there (fewer than 10 bytes: 0).
size_t id3_tag_bytes(const uint8_t* data, size_t size);

// Reads the tag at the start of `data`. Broken frames end the frame list
// without failing the tag (what was read before them is kept).
Id3Status parse_id3(const uint8_t* data, size_t size, Id3Tag* out);

// The title the tag gives: "Artist - Title" from TPE1 and TIT2 (or the one
// that is there), else a TXXX whose description is "title" (with a TXXX
// "artist" before it) or "StreamTitle", else a TXXX value in the ICY form
// StreamTitle='...';. "" when the tag names no title.
std::string id3_title(const Id3Tag& tag);

}  // namespace engine::hls
