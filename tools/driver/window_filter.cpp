#include "tools/driver/window_filter.h"

#include <cctype>
#include <cstdio>

namespace driver {
namespace {

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool Matches(const WindowFilter& filter, const std::string& imagePath, const std::string& cls,
             const std::string& caption) {
    if (!filter.process.empty() &&
        Lower(imagePath).find(Lower(filter.process)) == std::string::npos)
        return false;
    if (!filter.cls.empty() && cls != filter.cls) return false;
    if (filter.hasCaption && caption != filter.caption) return false;
    return true;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

bool ParseHandle(const std::string& text, unsigned long long& value) {
    size_t i = (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
    if (i >= text.size()) return false;
    unsigned long long result = 0;
    for (; i < text.size(); ++i) {
        const int digit = std::isdigit(static_cast<unsigned char>(text[i]))
                              ? text[i] - '0'
                              : (std::isxdigit(static_cast<unsigned char>(text[i]))
                                     ? std::tolower(static_cast<unsigned char>(text[i])) - 'a' + 10
                                     : -1);
        if (digit < 0 || result > (~0ULL >> 4)) return false;
        result = result * 16 + static_cast<unsigned>(digit);
    }
    value = result;
    return true;
}

}  // namespace driver
