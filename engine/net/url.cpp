#include "engine/net/url.h"

#include <cstring>

namespace engine {
namespace {

bool equals_nocase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// Bytes that may not appear anywhere in a URL we send: they would break the
// request line.
bool has_unsafe_bytes(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c <= 0x20 || c == 0x7f) return true;
    }
    return false;
}

bool valid_host_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~' || c == '%';
}

UrlStatus parse_authority_and_path(UrlScheme scheme, const std::string& rest, Url* out) {
    // rest is "authority[/path][?query][#fragment]"
    size_t end = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, end);
    std::string target = end == std::string::npos ? std::string() : rest.substr(end);
    const size_t hash = target.find('#');
    if (hash != std::string::npos) target.resize(hash);
    if (target.empty() || target[0] != '/') target.insert(0, "/");

    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);

    std::string host;
    std::string port_text;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return UrlStatus::Invalid;
        host = authority.substr(1, close - 1);
        for (char c : host)
            if (!(c == ':' || c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                  (c >= 'A' && c <= 'F')))
                return UrlStatus::Invalid;
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return UrlStatus::Invalid;
            port_text = after.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) port_text = authority.substr(colon + 1);
        for (char c : host)
            if (!valid_host_char(c)) return UrlStatus::Invalid;
    }
    if (host.empty()) return UrlStatus::Invalid;

    uint32_t port = scheme == UrlScheme::Https ? kHttpsDefaultPort : kHttpDefaultPort;
    if (!port_text.empty()) {
        if (port_text.size() > 5) return UrlStatus::Invalid;
        port = 0;
        for (char c : port_text) {
            if (c < '0' || c > '9') return UrlStatus::Invalid;
            port = port * 10 + static_cast<uint32_t>(c - '0');
        }
        if (port == 0 || port > 65535) return UrlStatus::Invalid;
    }

    out->scheme = scheme;
    out->host = host;
    out->port = static_cast<uint16_t>(port);
    out->target = target;
    return UrlStatus::Ok;
}

}  // namespace

UrlStatus parse_url(const char* text, Url* out) {
    if (!text || !out) return UrlStatus::Invalid;
    const size_t n = strnlen(text, kMaxUrlLength + 1);
    if (n == 0 || n > kMaxUrlLength || has_unsafe_bytes(text, n)) return UrlStatus::Invalid;
    const std::string s(text, n);
    const size_t sep = s.find("://");
    if (sep == std::string::npos) return UrlStatus::Invalid;
    const std::string scheme = s.substr(0, sep);
    UrlScheme kind;
    if (equals_nocase(scheme, "http"))
        kind = UrlScheme::Http;
    else if (equals_nocase(scheme, "https"))
        kind = UrlScheme::Https;
    else
        return UrlStatus::Invalid;
    return parse_authority_and_path(kind, s.substr(sep + 3), out);
}

UrlStatus resolve_url(const Url& base, const char* reference, Url* out) {
    if (!reference || !out) return UrlStatus::Invalid;
    const size_t n = strnlen(reference, kMaxUrlLength + 1);
    if (n == 0 || n > kMaxUrlLength || has_unsafe_bytes(reference, n)) return UrlStatus::Invalid;
    const std::string ref(reference, n);
    const size_t colon = ref.find(':');
    const size_t slash = ref.find('/');
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash))
        return parse_url(reference, out);  // has a scheme
    if (ref.compare(0, 2, "//") == 0) return parse_authority_and_path(base.scheme, ref.substr(2), out);

    Url r = base;
    if (ref[0] == '/') {
        r.target = ref;
    } else if (ref[0] == '?') {
        r.target = base.target.substr(0, base.target.find('?')) + ref;
    } else {
        std::string dir = base.target.substr(0, base.target.find('?'));
        dir.resize(dir.rfind('/') + 1);  // target always starts with '/'
        r.target = dir + ref;
    }
    const size_t hash = r.target.find('#');
    if (hash != std::string::npos) r.target.resize(hash);
    *out = r;
    return UrlStatus::Ok;
}

std::string url_host_header(const Url& url) {
    std::string h = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    const uint16_t def = url.scheme == UrlScheme::Https ? kHttpsDefaultPort : kHttpDefaultPort;
    if (url.port != def) h += ":" + std::to_string(url.port);
    return h;
}

std::string url_to_string(const Url& url) {
    return (url.scheme == UrlScheme::Https ? "https://" : "http://") + url_host_header(url) +
           url.target;
}

}  // namespace engine
