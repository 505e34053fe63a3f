// PLS and M3U playlists as served by radio directories: recognised by content
// type or content, resolved to the first stream address the client can use.
// A playlist naming another playlist is followed by the caller, which bounds
// the nesting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/net/url.h"

namespace engine {

constexpr size_t kMaxPlaylistBytes = 64 * 1024;  // a playlist larger than this is not one
constexpr size_t kPlaylistSniffBytes = 512;      // bytes detect_playlist() looks at

enum class PlaylistKind { None, Pls, M3u };

// Decides from the Content-Type (lower case without parameters, or "" /
// nullptr) and the first bytes of the body. Playlist content types decide
// alone; otherwise text starting with "[playlist]" is PLS, "#EXTM3U" or a
// first line that is an http(s) URL is M3U. Audio never looks like either.
PlaylistKind detect_playlist(const char* content_type, const uint8_t* data, size_t size);

// The first entry that resolves (against `self`, the playlist's own address)
// to an http or https URL other than `self`. PLS entries are taken in the
// order of their numbers (File0 counts, NumberOfEntries is not needed); M3U
// entries in line order, skipping comments and blank lines. Returns false
// when there is none.
bool playlist_first_stream(PlaylistKind kind, const uint8_t* data, size_t size, const Url& self,
                           Url* out);

}  // namespace engine
