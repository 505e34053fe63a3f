// Any bytes as ICY metadata and as Ogg comments: the title found must lie
// inside the input or fit the joined title's buffer, and the decoding and
// cutting of it stay in bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "playback/stream_metadata.h"
#include "playback/stream_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::string meta = text;  // stops at the first zero byte, as the engine's string would
    const playback::TitleUpdate fromMeta = playback::ParseTitle(meta.c_str(), nullptr);
    if (fromMeta.action == playback::TitleUpdate::Action::Show &&
        meta.find(fromMeta.text) == std::string::npos)
        std::abort();

    text.append(2, '\0');
    const playback::TitleUpdate fromOgg = playback::ParseTitle(nullptr, text.c_str());
    // A title alone is a comment's value as it stands; a joined "artist -
    // title" is held to its buffer.
    if (fromOgg.text.size() >= playback::kArtistTitleSize &&
        text.find(fromOgg.text) == std::string::npos)
        std::abort();
    const std::u16string wide = playback::DecodeStationText(fromOgg.text);
    if (wide.size() > fromOgg.text.size()) std::abort();
    playback::FormatStatus(u"Status", fromMeta.text);
    return 0;
}
