// When a playing stream's connection ends or stalls without the body having
// ended by its own length: how long to wait before each new try at the same
// address, and when to give up (then the stream ends once what is buffered
// has been heard). The first try comes at once, while the buffer still
// plays; later ones back off.
#pragma once

#include <cstdint>

namespace engine {

constexpr int kReconnectAttempts = 8;
constexpr uint32_t kReconnectBudgetMs = 20000;  // from the loss, for every try together
constexpr uint32_t kReconnectFirstBackoffMs = 250;
constexpr uint32_t kReconnectMaxBackoffMs = 4000;
// No byte for this long from a playing stream's connection counts as a loss.
constexpr uint32_t kPlayingStallMs = 4000;
// A connection that brought this much audio was a good one: the tries count
// from 0 again. One that brings less before it goes uses them up.
constexpr uint64_t kHeldConnectionBytes = 32 * 1024;

// The wait before try `attempt` (0 = the first after the loss), `elapsed_ms`
// after the loss; -1 when it is time to give up.
int32_t reconnect_delay_ms(int attempt, uint32_t elapsed_ms);

}  // namespace engine
