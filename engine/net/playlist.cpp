#include "engine/net/playlist.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace engine {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_nocase(const std::string& s, size_t at, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (s.size() - at < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (lower(s[at + i]) != lower(prefix[i])) return false;
    return true;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

// The text with a UTF-8 byte order mark and leading white space removed.
std::string body_text(const uint8_t* data, size_t size) {
    if (!data || size == 0) return std::string();
    std::string s(reinterpret_cast<const char*>(data), size);
    if (s.compare(0, 3, "\xEF\xBB\xBF") == 0) s.erase(0, 3);
    size_t a = 0;
    while (a < s.size() && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n')) ++a;
    return s.substr(a);
}

std::vector<std::string> split_lines(const std::string& s) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find('\n', start);
        if (end == std::string::npos) end = s.size();
        lines.push_back(trim(s.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

bool is_url_line(const std::string& s) {
    return starts_nocase(s, 0, "http://") || starts_nocase(s, 0, "https://");
}

// First candidate that is a usable stream address other than the playlist itself.
bool pick(const std::vector<std::string>& candidates, const Url& self, Url* out) {
    const std::string self_text = url_to_string(self);
    for (const std::string& c : candidates) {
        Url u;
        if (resolve_url(self, c.c_str(), &u) != UrlStatus::Ok) continue;
        if (url_to_string(u) == self_text) continue;
        *out = u;
        return true;
    }
    return false;
}

}  // namespace

PlaylistKind detect_playlist(const char* content_type, const uint8_t* data, size_t size) {
    if (content_type && *content_type) {
        const std::string t = content_type;
        if (t == "audio/x-scpls" || t == "application/pls+xml" || t == "audio/scpls")
            return PlaylistKind::Pls;
        if (t == "audio/x-mpegurl" || t == "audio/mpegurl" || t == "application/x-mpegurl" ||
            t == "application/vnd.apple.mpegurl")
            return PlaylistKind::M3u;
    }
    const std::string s = body_text(data, std::min(size, kPlaylistSniffBytes));
    if (starts_nocase(s, 0, "[playlist]")) return PlaylistKind::Pls;
    if (starts_nocase(s, 0, "#EXTM3U")) return PlaylistKind::M3u;
    if (is_url_line(s)) {
        // The first line must be plain text up to its end (or the sniffed part).
        for (char c : s) {
            if (c == '\n') break;
            const unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 && c != '\r' && c != '\t') return PlaylistKind::None;
        }
        return PlaylistKind::M3u;
    }
    return PlaylistKind::None;
}

bool playlist_first_stream(PlaylistKind kind, const uint8_t* data, size_t size, const Url& self,
                           Url* out) {
    if (size > kMaxPlaylistBytes) size = kMaxPlaylistBytes;
    const std::vector<std::string> lines = split_lines(body_text(data, size));
    std::vector<std::string> candidates;
    if (kind == PlaylistKind::M3u) {
        for (const std::string& line : lines)
            if (!line.empty() && line[0] != '#') candidates.push_back(line);
    } else if (kind == PlaylistKind::Pls) {
        std::vector<std::pair<long, std::string>> files;
        for (const std::string& line : lines) {
            if (!starts_nocase(line, 0, "file")) continue;
            size_t p = 4;
            long number = 0;
            size_t digits = 0;
            while (p < line.size() && line[p] >= '0' && line[p] <= '9' && digits < 9) {
                number = number * 10 + (line[p] - '0');
                ++p;
                ++digits;
            }
            if (digits == 0 || p >= line.size() || line[p] != '=') continue;
            const std::string value = trim(line.substr(p + 1));
            if (!value.empty()) files.emplace_back(number, value);
        }
        std::stable_sort(files.begin(), files.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& f : files) candidates.push_back(f.second);
    } else {
        return false;
    }
    return pick(candidates, self, out);
}

}  // namespace engine
