#include "settings/ini_value.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace settings {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Hand-written rather than strtod: strtod follows the C locale's decimal
// separator, and the file must read the same on every machine.
double ParseIniFloat(const char* text) {
    if (!text) return 0.0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');

    double value = 0.0;
    bool anyDigit = false;
    for (; IsDigit(*p); ++p) {
        value = value * 10.0 + (*p - '0');
        anyDigit = true;
    }
    if (*p == '.') {
        ++p;
        double scale = 0.1;
        for (; IsDigit(*p); ++p) {
            value += (*p - '0') * scale;
            scale *= 0.1;
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0;

    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool negativeExp = false;
        if (*q == '+' || *q == '-') negativeExp = (*q++ == '-');
        if (IsDigit(*q)) {
            int exponent = 0;
            for (; IsDigit(*q); ++q) {
                if (exponent < 1000) exponent = exponent * 10 + (*q - '0');
            }
            value *= std::pow(10.0, negativeExp ? -exponent : exponent);
        }
    }
    if (!std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

bool FormatIniFloat(double value, char* out, size_t size) {
    if (!out || size == 0) return false;
    const int n = std::snprintf(out, size, "%f", value);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    // A locale with a comma separator must not leak into the file.
    for (char* c = out; *c; ++c) {
        if (*c == ',') *c = '.';
    }
    return true;
}

}  // namespace settings
