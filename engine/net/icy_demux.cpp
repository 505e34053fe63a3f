#include "engine/net/icy_demux.h"

#include <cstring>

namespace engine {
namespace {
constexpr size_t kIcyBlockUnit = 16;  // the length byte counts 16-byte units
}

size_t IcyDemux::feed(const uint8_t* data, size_t size, uint8_t* audio_out,
                      std::vector<IcyMeta>* metas) {
    size_t out = 0;
    size_t i = 0;
    if (metaint_ == 0) {
        if (audio_out != data && size) std::memmove(audio_out, data, size);
        audio_total_ += size;
        return size;
    }
    while (i < size) {
        switch (state_) {
        case State::Audio: {
            size_t n = size - i;
            if (n > until_meta_) n = until_meta_;
            if (audio_out + out != data + i) std::memmove(audio_out + out, data + i, n);
            out += n;
            i += n;
            until_meta_ -= static_cast<uint32_t>(n);
            audio_total_ += n;
            if (until_meta_ == 0) state_ = State::Length;
            break;
        }
        case State::Length:
            text_left_ = static_cast<size_t>(data[i++]) * kIcyBlockUnit;
            text_.clear();
            until_meta_ = metaint_;
            state_ = text_left_ ? State::Text : State::Audio;
            break;
        case State::Text: {
            size_t n = size - i;
            if (n > text_left_) n = text_left_;
            text_.append(reinterpret_cast<const char*>(data + i), n);
            i += n;
            text_left_ -= n;
            if (text_left_ == 0) {
                const size_t end = text_.find('\0');
                if (end != std::string::npos) text_.resize(end);
                if (!text_.empty() && metas) metas->push_back(IcyMeta{audio_total_, text_});
                text_.clear();
                state_ = State::Audio;
            }
            break;
        }
        }
    }
    return out;
}

}  // namespace engine
