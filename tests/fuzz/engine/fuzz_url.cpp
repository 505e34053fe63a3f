#include <cstdint>
#include <string>

#include "engine/net/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace engine;
    const size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string a(reinterpret_cast<const char*>(data), cut);
    const std::string b(reinterpret_cast<const char*>(data) + cut, size - cut);
    Url base, out;
    const UrlStatus s = parse_url(a.c_str(), &base);
    if (s == UrlStatus::Ok) {
        // What we print must parse back to the same URL.
        Url again;
        const std::string text = url_to_string(base);
        if (parse_url(text.c_str(), &again) != s || url_to_string(again) != text) __builtin_trap();
        if (base.target.empty() || base.target[0] != '/') __builtin_trap();
        if (resolve_url(base, b.c_str(), &out) != UrlStatus::Invalid) {
            for (char c : url_to_string(out))
                if (static_cast<unsigned char>(c) <= 0x20) __builtin_trap();
        }
    }
    return 0;
}
