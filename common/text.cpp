#include "common/text.h"

#include <cstdlib>
#include <cstring>

char* DuplicateString(const char* text) {
    if (!text) return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}
