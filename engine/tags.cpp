#include "engine/tags.h"

namespace engine {

std::string tag_list(const std::vector<std::string>& items) {
    std::string list;
    for (const auto& s : items) {
        list += s;
        list += '\0';
    }
    list += '\0';
    return list;
}

void TagStore::SetHead(TagKind kind, const std::vector<std::string>& lines) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kind == TagKind::Icy) {
        icy_ = tag_list(lines);
        have_icy_ = true;
    } else {
        http_ = tag_list(lines);
        have_http_ = true;
    }
}

void TagStore::SetMeta(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    meta_ = text;
    have_meta_ = true;
}

void TagStore::SetOgg(const std::vector<std::string>& comments) {
    std::lock_guard<std::mutex> lock(mutex_);
    ogg_ = tag_list(comments);
    have_ogg_ = true;
}

bool TagStore::HasMeta() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return have_meta_;
}

bool TagStore::HasOgg() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return have_ogg_;
}

bool TagStore::MetaIs(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return have_meta_ && meta_ == text;
}

const char* TagStore::Read(TagKind kind, uint32_t reader) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (kind) {
    case TagKind::Http: return have_http_ ? http_.c_str() : nullptr;
    case TagKind::Icy: return have_icy_ ? icy_.c_str() : nullptr;
    case TagKind::Meta:
        if (!have_meta_) return nullptr;
        break;
    case TagKind::Ogg:
        if (!have_ogg_) return nullptr;
        break;
    }
    const std::string& now = kind == TagKind::Meta ? meta_ : ogg_;
    for (auto it = handed_.begin(); it != handed_.end(); ++it) {
        if (it->reader == reader && it->kind == kind) {
            // Only this reader's previous answer of this kind goes.
            if (it->text != now) it->text = now;
            return it->text.c_str();
        }
    }
    if (handed_.size() >= kMaxTagReaders) handed_.pop_front();
    handed_.push_back({reader, kind, now});
    return handed_.back().text.c_str();
}

}  // namespace engine
