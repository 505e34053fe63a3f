#include "engine/net/pending_titles.h"

namespace engine {

void PendingTitles::Add(std::vector<IcyMeta>* metas) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (IcyMeta& m : *metas) {
        // Servers repeat the title in every block; only changes matter.
        if (have_last_ && m.text == last_) continue;
        last_ = m.text;
        have_last_ = true;
        // Full: the newest one waiting gives way to this newer one, so none
        // is shown before its audio and the ones due soonest stay.
        if (queue_.size() >= kMaxPendingTitles)
            queue_.back() = std::move(m);
        else
            queue_.push_back(std::move(m));
    }
    metas->clear();
}

bool PendingTitles::TakeDue(uint64_t offset, std::string* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool due = false;
    while (!queue_.empty() && queue_.front().audio_offset <= offset) {
        *text = std::move(queue_.front().text);
        queue_.pop_front();
        due = true;
    }
    return due;
}

}  // namespace engine
