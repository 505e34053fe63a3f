#include "playback/stream_metadata.h"

#include <cstring>

#include "playback/stream_text.h"

namespace playback {

namespace {

constexpr char kNameKey[] = "icy-name:";
constexpr char kBitrateKey[] = "icy-br:";
constexpr char kTitlePrefix[] = "StreamTitle='";
constexpr char kTitleEnd[] = "';";
constexpr char kArtistKey[] = "artist=";
constexpr char kTitleKey[] = "title=";
// Far more than any real header or comment list; the walk stops there
// whatever the engine hands over.
constexpr int kMaxListStrings = 4096;

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    for (size_t i = 0; i < n; ++i) {
        if (!text[i]) return false;
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The pieces joined and cut to fit a buffer of size bytes (the fixed buffers
// these texts have always had), never in the middle of a UTF-8 character.
std::string BoundedJoin(size_t size, const char* a, const char* b, const char* c = "") {
    const std::string whole = std::string(a) + b + c;
    return CutToCharacters(whole.substr(0, size - 1).c_str(), whole.c_str());
}

// Calls visit on each string of a NUL-separated list ended by an empty one.
template <typename Visit>
void ForEachString(const char* list, Visit visit) {
    int count = 0;
    for (const char* s = list; s && *s && count < kMaxListStrings; s += std::strlen(s) + 1, ++count)
        visit(s);
}

}  // namespace

HeaderTexts ParseHeaderTags(const char* icyList, const char* httpList) {
    HeaderTexts out;
    const char* list = icyList ? icyList : httpList;
    if (!list) return out;
    out.anyList = true;
    ForEachString(list, [&](const char* s) {
        if (StartsWith(s, kNameKey)) {
            out.hasName = true;
            out.name = s + std::strlen(kNameKey);
        }
        if (StartsWith(s, kBitrateKey)) {
            out.hasBitrate = true;
            out.bitrate = BoundedJoin(kBitrateTextSize, s + std::strlen(kBitrateKey), " KBit/s");
        }
    });
    return out;
}

TitleUpdate ParseTitle(const char* meta, const char* oggComments) {
    TitleUpdate out;
    if (meta) {
        const char* start = std::strstr(meta, kTitlePrefix);
        if (!start) {
            out.action = TitleUpdate::Action::NoTitle;
            return out;
        }
        start += std::strlen(kTitlePrefix);
        const char* end = std::strstr(start, kTitleEnd);
        if (!end) return out;  // keep what is shown
        out.action = TitleUpdate::Action::Show;
        out.text.assign(start, static_cast<size_t>(end - start));
        return out;
    }
    if (!oggComments) return out;
    const char* artist = nullptr;
    const char* title = nullptr;
    ForEachString(oggComments, [&](const char* s) {
        if (StartsWithNoCase(s, kArtistKey)) artist = s + std::strlen(kArtistKey);
        if (StartsWithNoCase(s, kTitleKey)) title = s + std::strlen(kTitleKey);
    });
    if (!title) {
        out.action = TitleUpdate::Action::NoTitle;
        return out;
    }
    out.action = TitleUpdate::Action::Show;
    if (artist) {
        out.text = BoundedJoin(kArtistTitleSize, artist, " - ", title);
    } else {
        out.text = title;
    }
    return out;
}

}  // namespace playback
