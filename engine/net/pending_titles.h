// ICY titles received and not yet placed on the decoded audio. A repeat of
// the title before it is no change and is dropped; the queue is bounded (when
// full, the newest waiting title gives way to the next), and the titles that
// are due together become one: only the newest is heard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/net/icy_demux.h"

namespace engine {

constexpr size_t kMaxPendingTitles = 256;

class PendingTitles {
public:
    // Download side: the blocks of one read, in stream order.
    void Add(std::vector<IcyMeta>* metas);
    // Decoder side: the newest title whose audio starts at or before `offset`
    // (all older ones are dropped); false when none is due.
    bool TakeDue(uint64_t offset, std::string* text);

private:
    std::mutex mutex_;
    std::deque<IcyMeta> queue_;
    std::string last_;  // the title added last, to tell repeats
    bool have_last_ = false;
};

}  // namespace engine
