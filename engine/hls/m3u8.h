// HLS playlists (the m3u8 text): one parser for both kinds, the multivariant
// playlist that lists variants and audio renditions, and the media playlist
// that lists segments. Everything a server sends is bounded here: a playlist
// over any bound is refused as a whole, never cut short.
//
// URIs are kept as written; the caller resolves them against the address
// the playlist was fetched from (resolve_url).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine::hls {

constexpr size_t kMaxM3u8Bytes = 1024 * 1024;
constexpr size_t kMaxM3u8Lines = 64 * 1024;
constexpr size_t kMaxM3u8LineBytes = 8 * 1024;
constexpr size_t kMaxVariants = 64;
constexpr size_t kMaxRenditions = 64;
constexpr size_t kMaxSegments = 16 * 1024;
constexpr size_t kMaxKeys = kMaxSegments;  // EXT-X-KEY tags that change the key (one per segment at most)
constexpr size_t kMaxMaps = kMaxSegments;
constexpr uint32_t kMaxHlsDurationS = 24 * 3600;  // a longer target or segment duration is Malformed
constexpr size_t kHlsSniffBytes = 1024;  // bytes is_hls_playlist() needs at most

enum class M3u8Status {
    Ok,
    NotHls,     // no "#EXTM3U" first line, or no EXT-X- tag: a plain M3U, or not a playlist
    TooLarge,   // over a bound above
    Malformed,  // a tag whose required value is missing or broken, both kinds mixed
};

// "#EXTM3U" (after an optional UTF-8 BOM) as the first line and a line that
// begins with "#EXT-X-" within the first kHlsSniffBytes of `data`. A plain
// M3U (only #EXTINF and addresses) is not HLS.
bool is_hls_playlist(const uint8_t* data, size_t size);

struct ByteRange {
    uint64_t length = 0;
    uint64_t offset = 0;  // resolved: the implicit offset is already filled in
};

enum class KeyMethod {
    None,       // clear segments
    Aes128,     // whole segments, AES-128-CBC with PKCS#7 padding
    SampleAes,  // encrypted samples: we cannot play these
    Other,      // any other method, or a KEYFORMAT other than "identity" (DRM)
};

struct Key {
    KeyMethod method = KeyMethod::None;
    std::string uri;
    bool has_iv = false;
    std::array<uint8_t, 16> iv{};  // with has_iv; else the IV is the media sequence number
};

// The IV that decrypts a segment under `key` (METHOD=AES-128): the tag's,
// else the segment's media sequence number, big-endian in the low 8 bytes.
std::array<uint8_t, 16> segment_iv(const Key& key, uint64_t sequence);

// EXT-X-MAP: the bytes to put before every segment it applies to (the fMP4
// init segment, or a TS segment's PAT and PMT).
struct InitSection {
    std::string uri;
    bool has_range = false;
    ByteRange range;
    int key = -1;  // index in MediaPlaylist::keys of the key in effect at the tag, -1 for none
};

struct MediaSegment {
    std::string uri;
    uint32_t duration_ms = 0;   // EXTINF, rounded to the millisecond
    std::string title;          // EXTINF's text after the comma, may be empty
    uint64_t sequence = 0;      // its media sequence number
    uint64_t discontinuity_sequence = 0;
    bool discontinuity = false; // an EXT-X-DISCONTINUITY came before it
    bool has_range = false;
    ByteRange range;
    int key = -1;  // index in MediaPlaylist::keys, -1 when clear
    int map = -1;  // index in MediaPlaylist::maps, -1 when none
};

enum class PlaylistType { Live, Event, Vod };

struct MediaPlaylist {
    uint32_t target_duration_s = 0;  // required; a media playlist without it is Malformed
    uint64_t media_sequence = 0;     // of the first segment
    uint64_t discontinuity_sequence = 0;
    PlaylistType type = PlaylistType::Live;
    bool endlist = false;            // no segment will be added
    std::vector<MediaSegment> segments;
    std::vector<Key> keys;           // only keys other than METHOD=NONE
    std::vector<InitSection> maps;
};

// EXT-X-STREAM-INF and the URI line after it.
struct Variant {
    std::string uri;
    uint64_t bandwidth = 0;          // bits per second, required
    uint64_t average_bandwidth = 0;  // 0 when absent
    std::string codecs;              // as written, "" when absent
    std::string audio_group;         // AUDIO attribute, "" when absent
    std::string name;                // NAME (not standard, but stations set it), "" when absent
};

// EXT-X-MEDIA with TYPE=AUDIO (other types are skipped).
struct Rendition {
    std::string group_id;
    std::string name;
    std::string language;
    std::string uri;  // "" when the audio is inside the variant's own segments
    bool is_default = false;
    bool autoselect = false;
};

struct MultivariantPlaylist {
    std::vector<Variant> variants;
    std::vector<Rendition> renditions;
};

enum class PlaylistKindHls { Multivariant, Media };

struct M3u8 {
    PlaylistKindHls kind = PlaylistKindHls::Media;
    MultivariantPlaylist multivariant;  // with kind Multivariant
    MediaPlaylist media;                // with kind Media
};

// Parses a whole playlist (UTF-8, optional BOM; LF, CR or CRLF line ends).
// Unknown tags and comments are skipped. *out is only meaningful for Ok.
M3u8Status parse_m3u8(const uint8_t* data, size_t size, M3u8* out);

// What the engine can decode, judged from a CODECS attribute.
enum class CodecSupport {
    Aac,         // mp4a.40.2 (AAC-LC)
    HeAac,       // mp4a.40.5 or mp4a.40.29 (HE-AAC, HE-AAC v2)
    Mpeg,        // mp4a.40.34, mp4a.6B, mp4a.69: MPEG audio
    Probe,       // no CODECS: try it and see
    Unplayable,  // only audio codecs we do not have (AC-3, E-AC-3, USAC, Opus, FLAC, ...), or none
};
CodecSupport codec_support(const std::string& codecs);
// Whether CODECS names a video codec (the variant's segments carry video).
bool codecs_have_video(const std::string& codecs);

// One thing to try when playing a multivariant playlist.
struct PlayChoice {
    std::string uri;           // the media playlist to fetch (a rendition's or the variant's)
    size_t variant = 0;        // index in MultivariantPlaylist::variants
    int rendition = -1;        // index in MultivariantPlaylist::renditions, -1 for the variant's URI
    uint64_t bandwidth = 0;    // the variant's BANDWIDTH
    CodecSupport codec = CodecSupport::Probe;
};

// The order in which to try the variants, first choice first. Unplayable
// variants are left out. The rest are ranked by, in turn:
//   1. bandwidth at most `bandwidth_cap` before over it;
//   2. audio alone (no video codec in CODECS, or fetched through an audio
//      rendition) before segments that also carry video;
//   3. highest bandwidth first within the cap, lowest first over it;
//   4. a codec known from CODECS before Probe.
// A variant with an AUDIO group whose renditions have URIs is fetched
// through a rendition (DEFAULT first, then the group's others in order, each
// its own choice); a media playlist URI is listed once, at its best rank.
std::vector<PlayChoice> variant_order(const MultivariantPlaylist& playlist, uint64_t bandwidth_cap);

}  // namespace engine::hls
