#include "engine/net/reconnect.h"

namespace engine {

int32_t reconnect_delay_ms(int attempt, uint32_t elapsed_ms) {
    if (attempt < 0 || attempt >= kReconnectAttempts) return -1;
    uint32_t delay = 0;
    if (attempt > 0) {
        delay = kReconnectFirstBackoffMs;
        for (int i = 1; i < attempt && delay < kReconnectMaxBackoffMs; ++i) delay *= 2;
        if (delay > kReconnectMaxBackoffMs) delay = kReconnectMaxBackoffMs;
    }
    if (elapsed_ms >= kReconnectBudgetMs || delay >= kReconnectBudgetMs - elapsed_ms) return -1;
    return static_cast<int32_t>(delay);
}

}  // namespace engine
