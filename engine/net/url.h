// Stream addresses: http and https URLs split into what the socket client needs.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

enum class UrlScheme { Http, Https };

enum class UrlStatus {
    Ok,
    Invalid,  // not a URL we understand
};

constexpr size_t kMaxUrlLength = 4096;
constexpr uint16_t kHttpDefaultPort = 80;
constexpr uint16_t kHttpsDefaultPort = 443;

struct Url {
    UrlScheme scheme = UrlScheme::Http;
    std::string host;       // without brackets for an IPv6 literal
    uint16_t port = kHttpDefaultPort;
    std::string target;     // path and query as sent in the request line, starts with '/'
};

// Parses an absolute URL. The scheme is case-insensitive; user information
// ("user:pass@") is skipped; a fragment is dropped. Host must be non-empty and
// the port 1-65535. Control characters and blanks inside the URL are refused,
// so a URL can never smuggle extra request lines. *out is only meaningful for Ok.
UrlStatus parse_url(const char* text, Url* out);

// Resolves a redirect or playlist reference against the URL it came from:
// absolute URLs are parsed as above, "//host/..." keeps the scheme, "/path"
// keeps scheme, host and port, anything else replaces the last path segment.
UrlStatus resolve_url(const Url& base, const char* reference, Url* out);

// "host" or "host:port" (port only when not the scheme's default), IPv6 in
// brackets: the value of the Host request header.
std::string url_host_header(const Url& url);

// The URL written back out, e.g. for comparing playlist entries with the
// playlist's own address.
std::string url_to_string(const Url& url);

}  // namespace engine
