#include "directory/progress_text.h"

#include <climits>
#include <cstdio>

namespace {

// Counts beyond an int are shown as the largest one rather than wrapping.
int ClampToInt(int64_t value) {
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

int32_t ParseContentLength(const char* text) {
    if (!text) return 0;
    int64_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<int32_t>(value);
}

int32_t ProgressPosition(int64_t received, int32_t total) {
    if (total <= 0) return 0;
    float position = 100.0f / static_cast<float>(total) * static_cast<float>(received);
    if (position >= static_cast<float>(INT_MAX)) return INT_MAX;
    return static_cast<int32_t>(position);
}

void FormatStartCount(char* out, size_t size, const char* base, int32_t total) {
    std::snprintf(out, size, "%s (%d/%d)", base ? base : "", 0, total);
}

void FormatByteCount(char* out, size_t size, const char* base, int64_t received, int32_t total) {
    std::snprintf(out, size, "%s [%d / %d Bytes]", base ? base : "", ClampToInt(received), total);
}
