#include <cstdint>
#include <string>
#include <vector>

#include "engine/net/icy_demux.h"
#include "tests/fuzz/engine/pieces.h"

// Any split must give the same audio and the same metadata as one piece.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    if (size < 2) return 0;
    const uint32_t metaint = data[1] % 64;  // small intervals reach every state quickly
    std::vector<uint8_t> whole(data + 1, data + size);
    IcyDemux one(metaint);
    std::vector<IcyMeta> one_meta;
    std::vector<uint8_t> one_audio(whole.size());
    one_audio.resize(one.feed(whole.data(), whole.size(), one_audio.data(), &one_meta));

    IcyDemux split(metaint);
    std::vector<IcyMeta> meta;
    std::vector<uint8_t> audio;
    for (auto piece : engine_fuzz::pieces(data, size)) {
        const size_t n = split.feed(piece.data(), piece.size(), piece.data(), &meta);  // in place
        if (n > piece.size()) __builtin_trap();
        audio.insert(audio.end(), piece.begin(), piece.begin() + n);
    }
    if (audio != one_audio || meta.size() != one_meta.size()) __builtin_trap();
    for (size_t i = 0; i < meta.size(); ++i) {
        if (meta[i].text != one_meta[i].text || meta[i].audio_offset != one_meta[i].audio_offset)
            __builtin_trap();
        if (meta[i].text.size() > 255 * 16 || meta[i].audio_offset > audio.size()) __builtin_trap();
    }
    return 0;
}
