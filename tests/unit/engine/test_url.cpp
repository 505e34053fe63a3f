#include <gtest/gtest.h>

#include "engine/net/url.h"

using namespace engine;

TEST(Url, ParsesHostPortAndTarget) {
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
        const char* target;
    } cases[] = {
        {"http://radio.example.org/stream", "radio.example.org", 80, "/stream"},
        {"HTTP://Radio.Example.org:8000", "Radio.Example.org", 8000, "/"},
        {"http://127.0.0.1:8000/live.mp3?x=1&y=2#frag", "127.0.0.1", 8000, "/live.mp3?x=1&y=2"},
        {"http://user:pw@host:81/a", "host", 81, "/a"},
        {"http://[::1]:8080/x", "::1", 8080, "/x"},
        {"http://host?q", "host", 80, "/?q"},
    };
    for (const Case& c : cases) {
        Url u;
        ASSERT_EQ(parse_url(c.text, &u), UrlStatus::Ok) << c.text;
        EXPECT_EQ(u.host, c.host) << c.text;
        EXPECT_EQ(u.port, c.port) << c.text;
        EXPECT_EQ(u.target, c.target) << c.text;
    }
}

TEST(Url, HttpsHasItsOwnDefaultPort) {
    Url u;
    ASSERT_EQ(parse_url("HTTPS://secure.example.org/s", &u), UrlStatus::Ok);
    EXPECT_EQ(u.scheme, UrlScheme::Https);
    EXPECT_EQ(u.port, 443);
    EXPECT_EQ(url_host_header(u), "secure.example.org");
    ASSERT_EQ(parse_url("https://secure.example.org:80/s", &u), UrlStatus::Ok);
    EXPECT_EQ(url_to_string(u), "https://secure.example.org:80/s");
}

TEST(Url, RefusesMalformedAndUnsafeInput) {
    const char* bad[] = {
        "", "radio.example.org/stream", "ftp://host/x", "http://", "http:///path",
        "http://host:0/", "http://host:65536/", "http://host:12a/", "http://ho st/",
        "http://host/a b", "http://host/a\r\nX-Injected: 1", "http://[::1/", "http://h\x01st/",
        "mms://host/",
    };
    for (const char* b : bad) {
        Url u;
        EXPECT_EQ(parse_url(b, &u), UrlStatus::Invalid) << b;
    }
    EXPECT_EQ(parse_url(nullptr, nullptr), UrlStatus::Invalid);
    std::string longest = "http://h/" + std::string(kMaxUrlLength, 'a');
    Url u;
    EXPECT_EQ(parse_url(longest.c_str(), &u), UrlStatus::Invalid);
}

TEST(Url, ResolvesRedirectsAndRelativeEntries) {
    Url base;
    ASSERT_EQ(parse_url("http://host:8000/dir/list.pls?x=1", &base), UrlStatus::Ok);
    struct Case {
        const char* ref;
        const char* expect;
    } cases[] = {
        {"http://other/s", "http://other/s"},
        {"//cdn.example:81/a", "http://cdn.example:81/a"},
        {"/root.mp3", "http://host:8000/root.mp3"},
        {"stream.mp3", "http://host:8000/dir/stream.mp3"},
        {"?y=2", "http://host:8000/dir/list.pls?y=2"},
    };
    for (const Case& c : cases) {
        Url out;
        ASSERT_EQ(resolve_url(base, c.ref, &out), UrlStatus::Ok) << c.ref;
        EXPECT_EQ(url_to_string(out), c.expect);
    }
    Url out;
    ASSERT_EQ(resolve_url(base, "https://s/x", &out), UrlStatus::Ok);
    EXPECT_EQ(url_to_string(out), "https://s/x");
    Url secure;
    ASSERT_EQ(parse_url("https://tls.example:8443/a/b", &secure), UrlStatus::Ok);
    ASSERT_EQ(resolve_url(secure, "//cdn.example/c", &out), UrlStatus::Ok);
    EXPECT_EQ(url_to_string(out), "https://cdn.example/c");
    ASSERT_EQ(resolve_url(secure, "c", &out), UrlStatus::Ok);
    EXPECT_EQ(url_to_string(out), "https://tls.example:8443/a/c");
    EXPECT_EQ(resolve_url(base, "bad path", &out), UrlStatus::Invalid);
}

TEST(Url, HostHeaderOmitsDefaultPortAndBracketsIpv6) {
    Url u;
    ASSERT_EQ(parse_url("http://host:80/", &u), UrlStatus::Ok);
    EXPECT_EQ(url_host_header(u), "host");
    ASSERT_EQ(parse_url("http://[::1]:8000/", &u), UrlStatus::Ok);
    EXPECT_EQ(url_host_header(u), "[::1]:8000");
}
