// Any bytes as the ICY and HTTP header lists: the parse and the decoding of
// what it finds must stay in bounds and keep the bit-rate text to its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "playback/stream_metadata.h"
#include "playback/stream_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The engine hands over lists that end in two zero bytes.
    std::string list(reinterpret_cast<const char*>(data), size);
    list.append(2, '\0');
    const size_t half = list.size() / 2;
    const std::string second = list.substr(half) + std::string(2, '\0');
    const playback::HeaderTexts texts = playback::ParseHeaderTags(
        size % 2 ? list.c_str() : nullptr, second.c_str());
    if (texts.bitrate.size() >= playback::kBitrateTextSize) std::abort();
    if (!texts.anyList && (texts.hasName || texts.hasBitrate)) std::abort();
    playback::DecodeStationText(texts.name);
    playback::DecodeStationText(texts.bitrate);
    return 0;
}
