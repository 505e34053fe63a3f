#include "engine/hls/id3.h"

#include <cstring>

#include "engine/codec/sync_framer.h"

namespace engine::hls {

namespace {

constexpr uint8_t kFlagUnsync = 0x80;
constexpr uint8_t kFlagExtended = 0x40;
constexpr uint8_t kFlagV22Compressed = 0x40;  // the same bit meant compression in 2.2
constexpr uint8_t kFlagFooter = 0x10;
constexpr size_t kFooterBytes = 10;
constexpr size_t kFrameHeader22 = 6;
constexpr size_t kFrameHeader = 10;
constexpr size_t kIdBytes22 = 3;
constexpr size_t kIdBytes = 4;
// Frame format flags (the second flag byte).
constexpr uint8_t kV23Compressed = 0x80, kV23Encrypted = 0x40, kV23Grouping = 0x20;
constexpr uint8_t kV24Grouping = 0x40, kV24Compressed = 0x08, kV24Encrypted = 0x04,
                  kV24Unsync = 0x02, kV24DataLength = 0x01;
constexpr size_t kDataLengthBytes = 4;
constexpr size_t kTimestampBytes = 8;
constexpr uint32_t kReplacement = 0xFFFD;
constexpr char kValueSeparator[] = " / ";  // between the values of a 2.4 multi-value text frame
constexpr char kIcyTitlePrefix[] = "StreamTitle='";
constexpr char kIcyTitleEnd[] = "';";

enum Encoding : uint8_t { kLatin1 = 0, kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3 };

uint32_t syncsafe(const uint8_t* p) {
    return (uint32_t{p[0]} << 21) | (uint32_t{p[1]} << 14) | (uint32_t{p[2]} << 7) | p[3];
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Undoes unsynchronisation: every 0xFF 0x00 loses its 0x00.
std::vector<uint8_t> resync(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
    }
    return out;
}

// Appends a code point as UTF-8 unless that would pass kMaxId3TextBytes;
// false once full.
bool put_utf8(uint32_t cp, std::string* out) {
    if (cp < 0x20 || cp == 0x7F) cp = ' ';
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    char buf[4];
    size_t n = 0;
    if (cp < 0x80) {
        buf[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
        buf[n++] = static_cast<char>(0xC0 | (cp >> 6));
        buf[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        buf[n++] = static_cast<char>(0xE0 | (cp >> 12));
        buf[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buf[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        buf[n++] = static_cast<char>(0xF0 | (cp >> 18));
        buf[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        buf[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buf[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    if (out->size() + n > kMaxId3TextBytes) return false;
    out->append(buf, n);
    return true;
}

// One UTF-8 sequence at p (n bytes left): the code point and its length;
// U+FFFD and 1 for anything invalid.
uint32_t utf8_at(const uint8_t* p, size_t n, size_t* len) {
    *len = 1;
    const uint8_t b = p[0];
    if (b < 0x80) return b;
    size_t extra = 0;
    uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) {
        extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    if (extra >= n) return kReplacement;
    for (size_t i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return kReplacement;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min) return kReplacement;
    *len = extra + 1;
    return cp;
}

// Reads one string of `enc` from p[0..n) up to its terminator (or the end)
// into UTF-8. Returns the bytes used, terminator included.
size_t read_string(uint8_t enc, const uint8_t* p, size_t n, std::string* out) {
    out->clear();
    bool room = true;
    if (enc == kUtf16 || enc == kUtf16Be) {
        size_t i = 0;
        bool big = true;
        if (enc == kUtf16 && n >= 2) {
            if (p[0] == 0xFF && p[1] == 0xFE) big = false, i = 2;
            else if (p[0] == 0xFE && p[1] == 0xFF) i = 2;
        }
        auto unit = [&](size_t at) {
            return big ? static_cast<uint32_t>(p[at] << 8 | p[at + 1])
                       : static_cast<uint32_t>(p[at + 1] << 8 | p[at]);
        };
        for (; i + 1 < n; i += 2) {
            uint32_t cp = unit(i);
            if (cp == 0) return i + 2;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < n) {
                const uint32_t lo = unit(i + 2);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    i += 2;
                }
            }
            if (room) room = put_utf8(cp, out);
        }
        return n;
    }
    for (size_t i = 0; i < n;) {
        if (p[i] == 0) return i + 1;
        size_t len = 1;
        const uint32_t cp = enc == kUtf8 ? utf8_at(p + i, n - i, &len) : p[i];
        if (room) room = put_utf8(cp, out);
        i += len;
    }
    return n;
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A text frame: its values (2.4 allows several, NUL-separated) joined.
std::string text_value(const uint8_t* p, size_t n) {
    if (n == 0) return std::string();
    const uint8_t enc = p[0];
    if (enc > kUtf8) return std::string();
    std::string all, one;
    size_t at = 1;
    while (at < n) {
        at += read_string(enc, p + at, n - at, &one);
        one = trim(one);
        if (one.empty()) continue;
        if (!all.empty()) all += kValueSeparator;
        all += one;
        if (all.size() >= kMaxId3TextBytes) break;
    }
    return all;
}

void read_frame(const char* id, const uint8_t* p, size_t n, Id3Tag* tag) {
    if (std::strcmp(id, "TIT2") == 0) {
        tag->title = text_value(p, n);
    } else if (std::strcmp(id, "TPE1") == 0) {
        tag->artist = text_value(p, n);
    } else if (std::strcmp(id, "TXXX") == 0) {
        if (n == 0 || p[0] > kUtf8) return;
        Id3Txxx t;
        const size_t used = 1 + read_string(p[0], p + 1, n - 1, &t.description);
        if (used < n) read_string(p[0], p + used, n - used, &t.value);
        t.description = trim(t.description);
        t.value = trim(t.value);
        tag->txxx.push_back(std::move(t));
    } else if (std::strcmp(id, "PRIV") == 0) {
        Id3Priv priv;
        const size_t used = read_string(kLatin1, p, n, &priv.owner);
        const size_t keep = std::min(n - used, kMaxId3PrivBytes);
        priv.data.assign(p + used, p + used + keep);
        if (priv.owner == kTransportStreamTimestampOwner && priv.data.size() >= kTimestampBytes) {
            uint64_t v = 0;
            for (size_t i = 0; i < kTimestampBytes; ++i) v = (v << 8) | priv.data[i];
            tag->timestamp = static_cast<int64_t>(v & (kPtsModulo - 1));
        }
        tag->priv.push_back(std::move(priv));
    }
}

bool frame_id_ok(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

// The 2.2 names of the frames we read.
const char* v22_name(const uint8_t* id) {
    if (std::memcmp(id, "TT2", kIdBytes22) == 0) return "TIT2";
    if (std::memcmp(id, "TP1", kIdBytes22) == 0) return "TPE1";
    if (std::memcmp(id, "TXX", kIdBytes22) == 0) return "TXXX";
    return "";
}

void read_frames(int version, bool tag_unsync, const uint8_t* p, size_t n, Id3Tag* tag) {
    const size_t header = version == 2 ? kFrameHeader22 : kFrameHeader;
    size_t at = 0;
    for (size_t count = 0; count < kMaxId3Frames && n - at >= header; ++count) {
        const uint8_t* f = p + at;
        const size_t id_bytes = version == 2 ? kIdBytes22 : kIdBytes;
        if (!frame_id_ok(f, id_bytes)) return;  // padding, or garbage: the frames end
        size_t size;
        uint8_t format = 0;
        char id[kIdBytes + 1] = {};
        if (version == 2) {
            size = (size_t{f[3]} << 16) | (size_t{f[4]} << 8) | f[5];
            std::memcpy(id, v22_name(f), std::strlen(v22_name(f)));
        } else {
            size = version == 4 ? syncsafe(f + 4) : be32(f + 4);
            format = f[9];
            std::memcpy(id, f, kIdBytes);
        }
        if (size > n - at - header) return;
        const uint8_t* data = f + header;
        at += header + size;
        bool skip = false;
        size_t prefix = 0;
        bool unsync = false;
        if (version == 3) {
            skip = (format & (kV23Compressed | kV23Encrypted)) != 0;
            if (format & kV23Grouping) prefix += 1;
        } else if (version == 4) {
            skip = (format & (kV24Compressed | kV24Encrypted)) != 0;
            if (format & kV24Grouping) prefix += 1;
            if (format & kV24DataLength) prefix += kDataLengthBytes;
            unsync = tag_unsync || (format & kV24Unsync) != 0;
        }
        if (skip || prefix > size) continue;
        if (unsync) {
            const std::vector<uint8_t> clean = resync(data + prefix, size - prefix);
            read_frame(id, clean.data(), clean.size(), tag);
        } else {
            read_frame(id, data + prefix, size - prefix, tag);
        }
    }
}

bool equals_nocase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string join_title(const std::string& artist, const std::string& title) {
    if (artist.empty()) return title;
    if (title.empty()) return artist;
    return artist + " - " + title;
}

// The title in an ICY-style value StreamTitle='...'; or, when `plain` and
// the value is not in that form, the value itself.
std::string icy_title(const std::string& value, bool plain) {
    const size_t start = value.find(kIcyTitlePrefix);
    if (start == std::string::npos) return plain ? value : std::string();
    const size_t from = start + std::strlen(kIcyTitlePrefix);
    const size_t end = value.find(kIcyTitleEnd, from);
    return trim(value.substr(from, end == std::string::npos ? end : end - from));
}

}  // namespace

size_t id3_tag_bytes(const uint8_t* data, size_t size) {
    return data ? id3v2_tag_size(data, size) : 0;
}

Id3Status parse_id3(const uint8_t* data, size_t size, Id3Tag* out) {
    if (!data || size < kId3HeaderBytes || std::memcmp(data, "ID3", 3) != 0) return Id3Status::NotId3;
    const size_t total = id3v2_tag_size(data, size);
    if (total == 0) return Id3Status::Malformed;
    const int version = data[3];
    if (version < 2 || version > 4) return Id3Status::Malformed;
    if (total > kMaxId3TagBytes) return Id3Status::TooLarge;
    if (total > size) return Id3Status::NeedMore;
    const uint8_t flags = data[5];
    const size_t footer = flags & kFlagFooter ? kFooterBytes : 0;
    Id3Tag tag;
    tag.version = version;
    tag.size = total;
    const uint8_t* body = data + kId3HeaderBytes;
    size_t body_size = total - kId3HeaderBytes - footer;
    const bool tag_unsync = (flags & kFlagUnsync) != 0;
    std::vector<uint8_t> clean;
    if (tag_unsync && version < 4) {
        // Before 2.4 the whole tag, extended header included, was unsynchronised.
        clean = resync(body, body_size);
        body = clean.data();
        body_size = clean.size();
    }
    if (version == 2 && (flags & kFlagV22Compressed)) {
        *out = std::move(tag);  // no compression scheme was ever defined: nothing to read
        return Id3Status::Ok;
    }
    if ((flags & kFlagExtended) && version >= 3) {
        if (body_size < 4) return Id3Status::Malformed;
        // 2.3 counts the size field out of the extended header, 2.4 counts it in.
        const size_t ext = version == 4 ? syncsafe(body) : be32(body) + 4;
        if (ext > body_size) return Id3Status::Malformed;
        body += ext;
        body_size -= ext;
    }
    read_frames(version, tag_unsync, body, body_size, &tag);
    *out = std::move(tag);
    return Id3Status::Ok;
}

std::string id3_title(const Id3Tag& tag) {
    const std::string direct = join_title(tag.artist, tag.title);
    if (!direct.empty()) return direct;
    std::string artist, title;
    for (const Id3Txxx& t : tag.txxx) {
        if (equals_nocase(t.description, "title") || equals_nocase(t.description, "StreamTitle"))
            title = icy_title(t.value, true);
        else if (equals_nocase(t.description, "artist"))
            artist = t.value;
    }
    if (!title.empty()) return join_title(artist, title);
    for (const Id3Txxx& t : tag.txxx) {
        const std::string text = icy_title(t.value, false);
        if (!text.empty()) return text;
    }
    return std::string();
}

}  // namespace engine::hls
