// What a stream played, by device frame: the mixer writes each block as it
// hands it to the output, and levels and spectrum read the frames that the
// device reports as heard. Safe between one writer and any readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace engine {

constexpr size_t kHistoryFrames = 16384;  // about 370 ms at 44.1 kHz

class PlayHistory {
public:
    PlayHistory();

    // Stereo frames [block_start, block_start + frames) as played.
    void Push(const float* stereo, size_t frames, uint64_t block_start);
    // The `frames` stereo frames that end at device frame `end`; frames never
    // played or no longer kept read as silence.
    void Copy(uint64_t end, size_t frames, float* stereo) const;

private:
    mutable std::mutex mutex_;
    std::vector<float> frames_;
    uint64_t end_ = 0;  // device frame after the newest one kept
};

}  // namespace engine
