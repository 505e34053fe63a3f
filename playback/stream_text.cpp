#include "playback/stream_text.h"

#include <cstdio>
#include <cstring>

namespace playback {

namespace {

constexpr uint64_t kFullBuffer = 100;

// Windows-1252's 0x80..0x9F; the five unassigned bytes keep their value, as
// the system's own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Length of the UTF-8 sequence that starts with lead, 0 for a byte that
// cannot start one.
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes the valid sequence at p of length n.
char32_t CodePoint(const unsigned char* p, int n) {
    if (n == 1) return p[0];
    char32_t c = p[0] & (0x7F >> n);
    for (int i = 1; i < n; ++i) c = (c << 6) | (p[i] & 0x3F);
    return c;
}

// True when the n bytes at p form one well-formed sequence.
bool ValidSequence(const unsigned char* p, int n) {
    for (int i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return false;
    if (n == 3) {
        if (p[0] == 0xE0 && p[1] < 0xA0) return false;  // overlong
        if (p[0] == 0xED && p[1] >= 0xA0) return false;  // surrogate
    } else if (n == 4) {
        if (p[0] == 0xF0 && p[1] < 0x90) return false;  // overlong
        if (p[0] == 0xF4 && p[1] >= 0x90) return false;  // above U+10FFFF
    }
    return true;
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

}  // namespace

bool IsValidUtf8(const char* text, size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < size) {
        const int n = SequenceLength(p[i]);
        if (n == 0 || i + static_cast<size_t>(n) > size || !ValidSequence(p + i, n)) return false;
        i += static_cast<size_t>(n);
    }
    return true;
}

std::u16string DecodeStationText(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (IsValidUtf8(bytes.data(), bytes.size())) {
        for (size_t i = 0; i < bytes.size();) {
            const int n = SequenceLength(p[i]);
            AppendUtf16(out, CodePoint(p + i, n));
            i += static_cast<size_t>(n);
        }
        return out;
    }
    for (unsigned char b : bytes)
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
    return out;
}

std::string CutToCharacters(const char* cut, const char* whole) {
    std::string out = cut;
    const size_t wholeSize = std::strlen(whole);
    if (out.size() >= wholeSize || !IsValidUtf8(whole, wholeSize)) return out;
    // Drop continuation bytes and the lead byte of a sequence left incomplete.
    size_t end = out.size();
    size_t start = end;
    while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
        const int n = SequenceLength(static_cast<unsigned char>(out[start - 1]));
        if (n > 1 && end - (start - 1) < static_cast<size_t>(n)) out.resize(start - 1);
    }
    return out;
}

std::string FormatProgress(const char* label, int percent) {
    char text[kProgressTextSize] = {};
    std::snprintf(text, sizeof text, "%s: %d%%", label, percent);
    return text;
}

std::u16string FormatStatus(const std::u16string& label, const std::string& status) {
    std::u16string text = label + u": " + DecodeStationText(status);
    if (text.size() >= kStatusTextSize) {
        text.resize(kStatusTextSize - 1);
        // Never end on the first half of a surrogate pair.
        if (text.back() >= 0xD800 && text.back() < 0xDC00) text.pop_back();
    }
    return text;
}

std::string FormatStreamError(const char* head, int code, const char* detail) {
    char cutDetail[kErrorDetailSize] = {};
    std::snprintf(cutDetail, sizeof cutDetail, "%s", detail);
    char text[kErrorMessageSize] = {};
    std::snprintf(text, sizeof text, "%s%d)\n\n\"%s\"", head, code, cutDetail);
    return text;
}

uint64_t BufferPercent(uint64_t end, uint64_t download, uint64_t current) {
    if (end == 0) return kFullBuffer;
    return (download - current) * 100 / end;
}

}  // namespace playback
