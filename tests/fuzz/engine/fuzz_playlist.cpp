#include <cstdint>

#include "engine/net/playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    Url self;
    if (parse_url("http://dir.example:8000/lists/radio.pls", &self) != UrlStatus::Ok)
        __builtin_trap();
    const PlaylistKind found = detect_playlist(nullptr, data, size);
    for (PlaylistKind kind : {PlaylistKind::Pls, PlaylistKind::M3u, found}) {
        Url out;
        if (playlist_first_stream(kind, data, size, self, &out)) {
            if (url_to_string(out) == url_to_string(self)) __builtin_trap();  // self-reference
            if (out.host.empty()) __builtin_trap();
        }
    }
    return 0;
}
