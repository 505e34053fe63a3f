#include "engine/hls/m3u8.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace engine::hls {

namespace {

constexpr char kHeaderLine[] = "#EXTM3U";
constexpr char kTagPrefix[] = "#EXT-X-";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr size_t kUtf8BomBytes = 3;
constexpr size_t kIvBytes = 16;
constexpr uint32_t kMsPerSecond = 1000;
constexpr size_t kMaxFractionDigits = 9;  // beyond nanoseconds nothing changes the millisecond

// A view of bytes that is never read past its end.
struct Text {
    const char* p = nullptr;
    size_t n = 0;

    bool empty() const { return n == 0; }
    bool starts_with(const char* s) const {
        const size_t len = std::strlen(s);
        return n >= len && std::memcmp(p, s, len) == 0;
    }
    bool equals(const char* s) const { return n == std::strlen(s) && starts_with(s); }
    Text sub(size_t from, size_t len = std::numeric_limits<size_t>::max()) const {
        if (from > n) from = n;
        return {p + from, std::min(len, n - from)};
    }
    size_t find(char c, size_t from = 0) const {
        for (size_t i = from; i < n; ++i)
            if (p[i] == c) return i;
        return n;
    }
    std::string str() const { return std::string(p, n); }
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

Text trim(Text t) {
    while (t.n > 0 && is_blank(t.p[0])) t = t.sub(1);
    while (t.n > 0 && is_blank(t.p[t.n - 1])) --t.n;
    return t;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_nocase(Text t, const char* s) {
    const size_t len = std::strlen(s);
    if (t.n != len) return false;
    for (size_t i = 0; i < len; ++i)
        if (lower(t.p[i]) != lower(s[i])) return false;
    return true;
}

// decimal-integer: 0 to 2^64-1, digits only.
bool parse_decimal(Text t, uint64_t* out) {
    if (t.empty()) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < t.n; ++i) {
        const char c = t.p[i];
        if (c < '0' || c > '9') return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

// A non-negative decimal-floating-point number of seconds, at most
// kMaxHlsDurationS, in milliseconds rounded to the nearest. No locale.
bool parse_seconds_ms(Text t, uint32_t* out) {
    const size_t dot = t.find('.');
    uint64_t whole = 0;
    if (!parse_decimal(t.sub(0, dot), &whole) || whole > kMaxHlsDurationS) return false;
    uint64_t ms = whole * kMsPerSecond;
    if (dot < t.n) {
        const Text frac = t.sub(dot + 1);
        if (frac.empty()) return false;
        uint64_t scaled = 0, unit = 1;  // the fraction's first digits, and 10^count
        for (size_t i = 0; i < frac.n; ++i) {
            const char c = frac.p[i];
            if (c < '0' || c > '9') return false;
            if (i < kMaxFractionDigits) {
                scaled = scaled * 10 + static_cast<uint64_t>(c - '0');
                unit *= 10;
            }
        }
        ms += (scaled * kMsPerSecond + unit / 2) / unit;
    }
    if (ms > static_cast<uint64_t>(kMaxHlsDurationS) * kMsPerSecond) return false;
    *out = static_cast<uint32_t>(ms);
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// hexadecimal-sequence "0x..." of up to 128 bits, right-aligned.
bool parse_iv(Text t, std::array<uint8_t, kIvBytes>* out) {
    if (t.n < 3 || t.p[0] != '0' || lower(t.p[1]) != 'x') return false;
    const Text digits = t.sub(2);
    if (digits.n > kIvBytes * 2) return false;
    std::array<uint8_t, kIvBytes> iv{};
    for (size_t i = 0; i < digits.n; ++i) {
        const int d = hex_digit(digits.p[digits.n - 1 - i]);
        if (d < 0) return false;
        iv[kIvBytes - 1 - i / 2] |= static_cast<uint8_t>(i % 2 ? d << 4 : d);
    }
    *out = iv;
    return true;
}

// "<n>[@<o>]"; has_offset tells whether o was given.
bool parse_range(Text t, uint64_t* length, uint64_t* offset, bool* has_offset) {
    const size_t at = t.find('@');
    if (!parse_decimal(t.sub(0, at), length)) return false;
    *has_offset = at < t.n;
    *offset = 0;
    if (*has_offset && !parse_decimal(t.sub(at + 1), offset)) return false;
    return *length <= std::numeric_limits<uint64_t>::max() - *offset;
}

// An attribute-list: NAME=value pairs separated by commas, values quoted
// strings (no quote, CR or LF inside) or unquoted up to the next comma.
struct Attribute {
    Text name;
    Text value;  // without the quotes
    bool quoted = false;
};

bool parse_attributes(Text t, std::vector<Attribute>* out) {
    out->clear();
    size_t i = 0;
    while (i < t.n) {
        while (i < t.n && is_blank(t.p[i])) ++i;
        const size_t eq = t.find('=', i);
        if (eq == t.n) return false;
        Attribute a;
        a.name = trim(t.sub(i, eq - i));
        if (a.name.empty()) return false;
        for (size_t k = 0; k < a.name.n; ++k) {
            const char c = a.name.p[k];
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
        }
        i = eq + 1;
        if (i < t.n && t.p[i] == '"') {
            const size_t close = t.find('"', i + 1);
            if (close == t.n) return false;
            a.value = t.sub(i + 1, close - i - 1);
            a.quoted = true;
            i = close + 1;
            while (i < t.n && is_blank(t.p[i])) ++i;
            if (i < t.n && t.p[i] != ',') return false;
        } else {
            const size_t comma = t.find(',', i);
            a.value = trim(t.sub(i, comma - i));
            i = comma;
        }
        out->push_back(a);
        if (i < t.n) ++i;  // the comma
    }
    return true;
}

const Attribute* find_attribute(const std::vector<Attribute>& list, const char* name) {
    for (const Attribute& a : list)
        if (a.name.equals(name)) return &a;
    return nullptr;
}

std::string quoted_value(const std::vector<Attribute>& list, const char* name) {
    const Attribute* a = find_attribute(list, name);
    return a && a->quoted ? a->value.str() : std::string();
}

bool yes_value(const std::vector<Attribute>& list, const char* name) {
    const Attribute* a = find_attribute(list, name);
    return a && !a->quoted && a->value.equals("YES");
}

// Splits the body into lines (LF, CR or CRLF), at most kMaxM3u8Lines of at
// most kMaxM3u8LineBytes each.
M3u8Status split_lines(Text body, std::vector<Text>* lines) {
    size_t i = 0;
    while (i < body.n) {
        size_t end = i;
        while (end < body.n && body.p[end] != '\n' && body.p[end] != '\r') ++end;
        if (end - i > kMaxM3u8LineBytes) return M3u8Status::TooLarge;
        if (lines->size() == kMaxM3u8Lines) return M3u8Status::TooLarge;
        lines->push_back(body.sub(i, end - i));
        if (end < body.n && body.p[end] == '\r' && end + 1 < body.n && body.p[end + 1] == '\n')
            ++end;
        i = end + 1;
    }
    return M3u8Status::Ok;
}

Text skip_bom(const uint8_t* data, size_t size) {
    Text t{reinterpret_cast<const char*>(data), size};
    if (t.starts_with(kUtf8Bom)) t = t.sub(kUtf8BomBytes);
    return t;
}

bool header_line(Text line) { return trim(line).equals(kHeaderLine); }

// Builds one media or multivariant playlist from its lines.
class Parser {
public:
    explicit Parser(M3u8* out) : out_(out) {}

    M3u8Status run(const std::vector<Text>& lines) {
        for (size_t i = 1; i < lines.size() && status_ == M3u8Status::Ok; ++i) {
            const Text line = trim(lines[i]);
            if (line.empty()) continue;
            if (line.starts_with("#EXT"))
                tag(line);
            else if (line.p[0] != '#')
                uri(line);
        }
        if (status_ != M3u8Status::Ok) return status_;
        if (multivariant_ && media_) return M3u8Status::Malformed;
        if (awaiting_variant_uri_) return M3u8Status::Malformed;
        if (multivariant_) {
            out_->kind = PlaylistKindHls::Multivariant;
            return M3u8Status::Ok;
        }
        out_->kind = PlaylistKindHls::Media;
        if (!have_target_) return M3u8Status::Malformed;
        return M3u8Status::Ok;
    }

private:
    void fail(M3u8Status s) {
        if (status_ == M3u8Status::Ok) status_ = s;
    }

    void tag(Text line) {
        const size_t colon = line.find(':');
        const Text name = line.sub(0, colon);
        const Text value = colon < line.n ? line.sub(colon + 1) : Text{line.p + line.n, 0};
        MediaPlaylist& m = out_->media;

        if (name.equals("#EXTINF")) {
            media_ = true;
            const size_t comma = value.find(',');
            if (!parse_seconds_ms(trim(value.sub(0, comma)), &next_.duration_ms))
                return fail(M3u8Status::Malformed);
            next_.title = comma < value.n ? trim(value.sub(comma + 1)).str() : std::string();
            have_extinf_ = true;
        } else if (name.equals("#EXT-X-TARGETDURATION")) {
            media_ = true;
            uint64_t v = 0;
            if (!parse_decimal(value, &v) || v > kMaxHlsDurationS) return fail(M3u8Status::Malformed);
            m.target_duration_s = static_cast<uint32_t>(v);
            have_target_ = true;
        } else if (name.equals("#EXT-X-MEDIA-SEQUENCE") ||
                   name.equals("#EXT-X-DISCONTINUITY-SEQUENCE")) {
            media_ = true;
            uint64_t v = 0;
            // Both number the segments: they must come before the first one.
            if (!parse_decimal(value, &v) || !m.segments.empty())
                return fail(M3u8Status::Malformed);
            if (v > std::numeric_limits<uint64_t>::max() - kMaxSegments)
                return fail(M3u8Status::Malformed);
            if (name.equals("#EXT-X-MEDIA-SEQUENCE"))
                m.media_sequence = v;
            else
                m.discontinuity_sequence = discontinuity_sequence_ = v;
        } else if (name.equals("#EXT-X-DISCONTINUITY")) {
            media_ = true;
            if (!next_.discontinuity) ++discontinuity_sequence_;
            next_.discontinuity = true;
        } else if (name.equals("#EXT-X-BYTERANGE")) {
            media_ = true;
            if (!parse_range(value, &range_length_, &range_offset_, &range_has_offset_))
                return fail(M3u8Status::Malformed);
            next_.has_range = true;
        } else if (name.equals("#EXT-X-KEY")) {
            media_ = true;
            key_tag(value);
        } else if (name.equals("#EXT-X-MAP")) {
            media_ = true;
            map_tag(value);
        } else if (name.equals("#EXT-X-ENDLIST")) {
            media_ = true;
            m.endlist = true;
        } else if (name.equals("#EXT-X-PLAYLIST-TYPE")) {
            media_ = true;
            if (value.equals("EVENT")) m.type = PlaylistType::Event;
            if (value.equals("VOD")) m.type = PlaylistType::Vod;
        } else if (name.equals("#EXT-X-STREAM-INF")) {
            multivariant_ = true;
            stream_inf(value);
        } else if (name.equals("#EXT-X-MEDIA")) {
            multivariant_ = true;
            media_tag(value);
        } else if (name.equals("#EXT-X-I-FRAME-STREAM-INF")) {
            multivariant_ = true;  // video trick play: nothing for us
        }
    }

    void key_tag(Text value) {
        if (!parse_attributes(value, &attrs_)) return fail(M3u8Status::Malformed);
        const Attribute* method = find_attribute(attrs_, "METHOD");
        if (!method) return fail(M3u8Status::Malformed);
        Key k;
        if (method->value.equals("NONE"))
            k.method = KeyMethod::None;
        else if (method->value.equals("AES-128"))
            k.method = KeyMethod::Aes128;
        else if (method->value.equals("SAMPLE-AES"))
            k.method = KeyMethod::SampleAes;
        else
            k.method = KeyMethod::Other;
        const Attribute* format = find_attribute(attrs_, "KEYFORMAT");
        const bool identity = !format || format->value.equals("identity");
        if (k.method != KeyMethod::None) {
            k.uri = quoted_value(attrs_, "URI");
            if (k.uri.empty()) return fail(M3u8Status::Malformed);
            if (const Attribute* iv = find_attribute(attrs_, "IV")) {
                if (!parse_iv(iv->value, &k.iv)) return fail(M3u8Status::Malformed);
                k.has_iv = true;
            }
            if (!identity) k.method = KeyMethod::Other;
        }
        // Several key tags for one segment offer one key in several formats
        // (DRM systems besides plain AES-128): the one we can use wins.
        if (!identity && identity_key_offered_) return;
        identity_key_offered_ = identity_key_offered_ || identity;
        key_ = k;
    }

    void map_tag(Text value) {
        if (!parse_attributes(value, &attrs_)) return fail(M3u8Status::Malformed);
        InitSection map;
        map.uri = quoted_value(attrs_, "URI");
        if (map.uri.empty()) return fail(M3u8Status::Malformed);
        if (const Attribute* r = find_attribute(attrs_, "BYTERANGE")) {
            bool has_offset = false;
            if (!r->quoted || !parse_range(r->value, &map.range.length, &map.range.offset, &has_offset))
                return fail(M3u8Status::Malformed);
            map.has_range = true;
        }
        map.key = key_index();
        if (status_ != M3u8Status::Ok) return;
        MediaPlaylist& m = out_->media;
        if (m.maps.size() == kMaxMaps) return fail(M3u8Status::TooLarge);
        m.maps.push_back(std::move(map));
        map_ = static_cast<int>(m.maps.size() - 1);
    }

    // The key in effect as an index in keys, added when it changed.
    int key_index() {
        identity_key_offered_ = false;
        if (key_.method == KeyMethod::None) return -1;
        MediaPlaylist& m = out_->media;
        if (!m.keys.empty()) {
            const Key& last = m.keys.back();
            if (last.method == key_.method && last.uri == key_.uri && last.has_iv == key_.has_iv &&
                last.iv == key_.iv)
                return static_cast<int>(m.keys.size() - 1);
        }
        if (m.keys.size() == kMaxKeys) {
            fail(M3u8Status::TooLarge);
            return -1;
        }
        m.keys.push_back(key_);
        return static_cast<int>(m.keys.size() - 1);
    }

    void stream_inf(Text value) {
        if (awaiting_variant_uri_) return fail(M3u8Status::Malformed);
        if (!parse_attributes(value, &attrs_)) return fail(M3u8Status::Malformed);
        Variant v;
        const Attribute* bw = find_attribute(attrs_, "BANDWIDTH");
        if (!bw || bw->quoted || !parse_decimal(bw->value, &v.bandwidth))
            return fail(M3u8Status::Malformed);
        if (const Attribute* avg = find_attribute(attrs_, "AVERAGE-BANDWIDTH")) {
            if (avg->quoted || !parse_decimal(avg->value, &v.average_bandwidth))
                return fail(M3u8Status::Malformed);
        }
        v.codecs = quoted_value(attrs_, "CODECS");
        v.audio_group = quoted_value(attrs_, "AUDIO");
        v.name = quoted_value(attrs_, "NAME");
        if (out_->multivariant.variants.size() == kMaxVariants) return fail(M3u8Status::TooLarge);
        out_->multivariant.variants.push_back(std::move(v));
        awaiting_variant_uri_ = true;
    }

    void media_tag(Text value) {
        if (!parse_attributes(value, &attrs_)) return fail(M3u8Status::Malformed);
        const Attribute* type = find_attribute(attrs_, "TYPE");
        if (!type) return fail(M3u8Status::Malformed);
        if (!type->value.equals("AUDIO")) return;
        Rendition r;
        r.group_id = quoted_value(attrs_, "GROUP-ID");
        r.name = quoted_value(attrs_, "NAME");
        if (r.group_id.empty() || r.name.empty()) return fail(M3u8Status::Malformed);
        r.language = quoted_value(attrs_, "LANGUAGE");
        r.uri = quoted_value(attrs_, "URI");
        r.is_default = yes_value(attrs_, "DEFAULT");
        r.autoselect = yes_value(attrs_, "AUTOSELECT");
        if (out_->multivariant.renditions.size() == kMaxRenditions)
            return fail(M3u8Status::TooLarge);
        out_->multivariant.renditions.push_back(std::move(r));
    }

    void uri(Text line) {
        if (awaiting_variant_uri_) {
            out_->multivariant.variants.back().uri = line.str();
            awaiting_variant_uri_ = false;
            return;
        }
        if (multivariant_) return;  // an address outside a variant: not ours to follow
        MediaPlaylist& m = out_->media;
        if (!have_extinf_) return fail(M3u8Status::Malformed);
        if (m.segments.size() == kMaxSegments) return fail(M3u8Status::TooLarge);
        MediaSegment s = std::move(next_);
        s.uri = line.str();
        s.sequence = m.media_sequence + m.segments.size();
        s.discontinuity_sequence = discontinuity_sequence_;
        if (s.has_range) {
            if (!range_has_offset_) {
                // Continues the previous segment's range of the same resource.
                if (m.segments.empty() || !m.segments.back().has_range ||
                    m.segments.back().uri != s.uri)
                    return fail(M3u8Status::Malformed);
                const ByteRange& prev = m.segments.back().range;
                range_offset_ = prev.offset + prev.length;
                if (range_length_ > std::numeric_limits<uint64_t>::max() - range_offset_)
                    return fail(M3u8Status::Malformed);
            }
            s.range.length = range_length_;
            s.range.offset = range_offset_;
        }
        s.key = key_index();
        s.map = map_;
        m.segments.push_back(std::move(s));
        next_ = MediaSegment();
        have_extinf_ = false;
    }

    M3u8* out_;
    M3u8Status status_ = M3u8Status::Ok;
    std::vector<Attribute> attrs_;
    bool media_ = false, multivariant_ = false;
    bool have_target_ = false;
    bool awaiting_variant_uri_ = false;
    MediaSegment next_;  // what the tags said about the next segment
    bool have_extinf_ = false;
    uint64_t discontinuity_sequence_ = 0;
    uint64_t range_length_ = 0, range_offset_ = 0;
    bool range_has_offset_ = false;
    Key key_;
    bool identity_key_offered_ = false;  // since the last segment or map
    int map_ = -1;
};

// One entry of a CODECS list, classified.
enum class CodecClass { PlayableAudio, OtherAudio, Video, Unknown };

struct CodecEntry {
    CodecClass cls = CodecClass::Unknown;
    CodecSupport support = CodecSupport::Unplayable;
};

CodecEntry classify_codec(Text c) {
    static const char* const kVideo[] = {"avc1", "avc3", "hvc1", "hev1", "dvh1", "dvhe",
                                         "vp08", "vp09", "av01", "mp4v", "encv"};
    static const char* const kOtherAudio[] = {"ac-3", "ec-3", "ac-4", "opus", "flac", "alac",
                                              "dtsc", "dtse", "dtsh", "dtsl", "mha1", "mhm1",
                                              "enca"};
    const Text fourcc = c.sub(0, c.find('.'));
    for (const char* v : kVideo)
        if (equals_nocase(fourcc, v)) return {CodecClass::Video, CodecSupport::Unplayable};
    for (const char* a : kOtherAudio)
        if (equals_nocase(fourcc, a)) return {CodecClass::OtherAudio, CodecSupport::Unplayable};
    if (equals_nocase(c, "mp3")) return {CodecClass::PlayableAudio, CodecSupport::Mpeg};
    if (!equals_nocase(fourcc, "mp4a")) return {};
    // mp4a.<object type indication, hex>[.<audio object type, decimal>]
    const Text rest = c.sub(fourcc.n + 1);
    const size_t dot = rest.find('.');
    const Text oti = rest.sub(0, dot);
    constexpr uint64_t kAacLc = 2, kHeAac = 5, kHeAacV2 = 29, kLayer3 = 34;
    if (equals_nocase(oti, "40")) {
        uint64_t aot = 0;
        if (dot < rest.n && parse_decimal(rest.sub(dot + 1), &aot)) {
            if (aot == kAacLc) return {CodecClass::PlayableAudio, CodecSupport::Aac};
            if (aot == kHeAac || aot == kHeAacV2) return {CodecClass::PlayableAudio, CodecSupport::HeAac};
            if (aot == kLayer3) return {CodecClass::PlayableAudio, CodecSupport::Mpeg};
        }
        return {CodecClass::OtherAudio, CodecSupport::Unplayable};
    }
    if (equals_nocase(oti, "67")) return {CodecClass::PlayableAudio, CodecSupport::Aac};  // MPEG-2 AAC LC
    if (equals_nocase(oti, "6b") || equals_nocase(oti, "69"))
        return {CodecClass::PlayableAudio, CodecSupport::Mpeg};
    return {CodecClass::OtherAudio, CodecSupport::Unplayable};
}

template <class F>
void for_each_codec(const std::string& codecs, F f) {
    const Text all{codecs.data(), codecs.size()};
    size_t i = 0;
    while (i <= all.n) {
        const size_t comma = all.find(',', i);
        const Text one = trim(all.sub(i, comma - i));
        if (!one.empty()) f(classify_codec(one));
        i = comma + 1;
    }
}

}  // namespace

bool is_hls_playlist(const uint8_t* data, size_t size) {
    if (!data) return false;
    Text t = skip_bom(data, std::min(size, kHlsSniffBytes));
    std::vector<Text> lines;
    split_lines(t, &lines);  // a line cut at the sniff bound still shows its start
    if (lines.empty() || !header_line(lines[0])) return false;
    for (size_t i = 1; i < lines.size(); ++i)
        if (trim(lines[i]).starts_with(kTagPrefix)) return true;
    return false;
}

M3u8Status parse_m3u8(const uint8_t* data, size_t size, M3u8* out) {
    if (!data || size == 0) return M3u8Status::NotHls;
    if (size > kMaxM3u8Bytes) return M3u8Status::TooLarge;
    std::vector<Text> lines;
    const M3u8Status split = split_lines(skip_bom(data, size), &lines);
    if (lines.empty() || !header_line(lines[0])) return M3u8Status::NotHls;
    if (split != M3u8Status::Ok) return split;
    // A plain M3U is not ours, whatever its lines hold.
    if (std::none_of(lines.begin() + 1, lines.end(), [](Text l) { return trim(l).starts_with(kTagPrefix); }))
        return M3u8Status::NotHls;
    *out = M3u8();
    Parser parser(out);
    return parser.run(lines);
}

std::array<uint8_t, 16> segment_iv(const Key& key, uint64_t sequence) {
    if (key.has_iv) return key.iv;
    std::array<uint8_t, kIvBytes> iv{};
    for (size_t i = 0; i < sizeof(sequence); ++i)
        iv[kIvBytes - 1 - i] = static_cast<uint8_t>(sequence >> (8 * i));
    return iv;
}

CodecSupport codec_support(const std::string& codecs) {
    bool any = false, unknown = false;
    CodecSupport found = CodecSupport::Unplayable;
    for_each_codec(codecs, [&](const CodecEntry& e) {
        any = true;
        if (e.cls == CodecClass::PlayableAudio && found == CodecSupport::Unplayable) found = e.support;
        if (e.cls == CodecClass::Unknown) unknown = true;
    });
    if (!any) return CodecSupport::Probe;
    if (found != CodecSupport::Unplayable) return found;
    // A codec we do not know may be audio we can still play.
    return unknown ? CodecSupport::Probe : CodecSupport::Unplayable;
}

bool codecs_have_video(const std::string& codecs) {
    bool video = false;
    for_each_codec(codecs, [&](const CodecEntry& e) { video = video || e.cls == CodecClass::Video; });
    return video;
}

std::vector<PlayChoice> variant_order(const MultivariantPlaylist& playlist, uint64_t bandwidth_cap) {
    struct Ranked {
        PlayChoice choice;
        bool over_cap;
        bool video;
    };
    std::vector<Ranked> all;
    for (size_t i = 0; i < playlist.variants.size(); ++i) {
        const Variant& v = playlist.variants[i];
        const CodecSupport codec = codec_support(v.codecs);
        if (codec == CodecSupport::Unplayable) continue;
        const bool over = v.bandwidth > bandwidth_cap;
        const bool video = codecs_have_video(v.codecs);
        auto add = [&](const std::string& uri, int rendition, bool carries_video) {
            if (uri.empty()) return;
            all.push_back({{uri, i, rendition, v.bandwidth, codec}, over, carries_video});
        };
        if (!v.audio_group.empty()) {
            // DEFAULT first, then the group's others in playlist order.
            for (int pass = 0; pass < 2; ++pass)
                for (size_t r = 0; r < playlist.renditions.size(); ++r) {
                    const Rendition& rd = playlist.renditions[r];
                    if (rd.group_id == v.audio_group && rd.is_default == (pass == 0))
                        add(rd.uri, static_cast<int>(r), false);
                }
        }
        add(v.uri, -1, video);
    }
    std::stable_sort(all.begin(), all.end(), [](const Ranked& a, const Ranked& b) {
        if (a.over_cap != b.over_cap) return !a.over_cap;
        if (a.video != b.video) return !a.video;
        if (a.choice.bandwidth != b.choice.bandwidth)
            return a.over_cap ? a.choice.bandwidth < b.choice.bandwidth
                              : a.choice.bandwidth > b.choice.bandwidth;
        const bool a_probe = a.choice.codec == CodecSupport::Probe;
        const bool b_probe = b.choice.codec == CodecSupport::Probe;
        return !a_probe && b_probe;
    });
    std::vector<PlayChoice> out;
    for (const Ranked& r : all) {
        const bool seen = std::any_of(out.begin(), out.end(),
                                      [&](const PlayChoice& c) { return c.uri == r.choice.uri; });
        if (!seen) out.push_back(r.choice);
    }
    return out;
}

}  // namespace engine::hls
