// What the station field, the bit-rate field and the title field show, taken
// from the engine's tag data: the header tags once per stream, the title at
// start and at every metadata event. Pure functions of the tag bytes, no
// windows.h: the glue (metadata_win.cpp) reads the tags and sets the fields.
#pragma once

#include <string>

namespace playback {

// The byte size of the bit-rate text and of the "artist - title" text,
// terminating zero included.
constexpr size_t kBitrateTextSize = 64;
constexpr size_t kArtistTitleSize = 512;

// From the ICY header list, or the HTTP one when there is none (each a run
// of NUL-terminated strings ended by an empty one; null when absent).
struct HeaderTexts {
    bool anyList = false;     // false: neither list exists
    bool hasName = false;     // an "icy-name:" line: name is the rest of the last one
    std::string name;
    bool hasBitrate = false;  // an "icy-br:" line: bitrate is "<rest> KBit/s" of the last one
    std::string bitrate;
};
HeaderTexts ParseHeaderTags(const char* icyList, const char* httpList);

// What the title field does after a metadata event.
struct TitleUpdate {
    enum class Action { Keep, Show, NoTitle } action = Action::Keep;
    std::string text;  // for Show
};

// From the META tag (one string of key='value'; pairs) when there is one,
// else from the Ogg comment list; both may be null.
TitleUpdate ParseTitle(const char* meta, const char* oggComments);

}  // namespace playback
