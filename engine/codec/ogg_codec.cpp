#include "engine/codec/ogg_codec.h"

#include "engine/codec/opus_codec.h"
#include "engine/codec/opus_header.h"
#include "engine/codec/vorbis_codec.h"

namespace engine {

std::unique_ptr<OggCodec> make_ogg_codec(const uint8_t* first, size_t size) {
    if (is_vorbis_header(first, size, 1)) return make_vorbis_codec();
    if (is_opus_head(first, size)) return make_opus_codec();
    return nullptr;
}

bool parse_comment_list(const uint8_t* data, size_t size, size_t at, std::string* vendor,
                        std::vector<std::string>* comments) {
    if (at > size) return false;
    auto read_string = [&](std::string* out) {
        if (size - at < 4) return false;
        const uint32_t len = read_le32(data + at);
        at += 4;
        if (len > size - at) return false;
        const size_t keep = len < kMaxOggCommentBytes ? len : kMaxOggCommentBytes;
        out->assign(reinterpret_cast<const char*>(data + at), keep);
        at += len;
        return true;
    };
    std::string v;
    if (!read_string(&v)) return false;
    if (size - at < 4) return false;
    const uint32_t count = read_le32(data + at);
    at += 4;
    // Each comment takes at least its length field: a count beyond that lies.
    if (count > (size - at) / 4) return false;
    std::vector<std::string> list;
    for (uint32_t i = 0; i < count; ++i) {
        std::string c;
        if (!read_string(&c)) return false;
        if (list.size() < kMaxOggComments) list.push_back(std::move(c));
    }
    if (vendor) *vendor = std::move(v);
    if (comments) *comments = std::move(list);
    return true;
}

}  // namespace engine
