// A stream's tags: the response head (fixed once the stream exists) and the
// current title (ICY metadata) and Vorbis comments, which change while it
// plays. Text handed to a reader stays valid until that reader asks for the
// same kind again, however often the title changes in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace engine {

// Readers whose last answer is kept; past this the oldest reader's goes.
constexpr size_t kMaxTagReaders = 64;

// NUL-separated strings ended by an empty one.
std::string tag_list(const std::vector<std::string>& items);

enum class TagKind { Http, Icy, Meta, Ogg };

class TagStore {
public:
    void SetHead(TagKind kind, const std::vector<std::string>& lines);
    void SetMeta(const std::string& text);
    void SetOgg(const std::vector<std::string>& comments);
    bool HasMeta() const;
    bool HasOgg() const;
    bool MetaIs(const std::string& text) const;

    // The tag as the engine hands it out, or null when the stream has none.
    // `reader` tells callers apart (the calling thread).
    const char* Read(TagKind kind, uint32_t reader);

private:
    struct Handed {
        uint32_t reader;
        TagKind kind;
        std::string text;
    };

    mutable std::mutex mutex_;
    std::string http_, icy_;  // never change after create
    bool have_http_ = false, have_icy_ = false;
    std::string meta_, ogg_;
    bool have_meta_ = false, have_ogg_ = false;
    std::deque<Handed> handed_;  // oldest first
};

}  // namespace engine
