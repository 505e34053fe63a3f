#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/net/chunked.h"
#include "engine/net/http_head.h"

using namespace engine;

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Feeds `text` in pieces of `piece` bytes; returns the result and the number of
// bytes taken in total.
HeadResult feed_pieces(HttpHeadParser& p, const std::string& text, size_t piece, size_t* taken) {
    *taken = 0;
    HeadResult r = HeadResult::NeedMore;
    for (size_t at = 0; at < text.size() && r == HeadResult::NeedMore; at += piece) {
        size_t n = std::min(piece, text.size() - at), used = 0;
        r = p.feed(bytes(text) + at, n, &used);
        *taken += used;
    }
    return r;
}

}  // namespace

TEST(HttpHead, IcyAndHttpResponsesInAnySplit) {
    const std::string icy =
        "ICY 200 OK\r\nicy-name:Test Radio\r\nicy-br:128\r\nicy-metaint: 8192\r\n"
        "content-type: audio/mpeg\r\n\r\nBODY";
    const std::string http_lf =
        "HTTP/1.1 200 OK\nContent-Type: Audio/OGG; charset=x\nTransfer-Encoding: gzip, chunked\n"
        "Content-Length: 42\n\nBODY";
    for (size_t piece : {size_t(1), size_t(2), size_t(7), size_t(1000)}) {
        HttpHeadParser p;
        size_t taken = 0;
        ASSERT_EQ(feed_pieces(p, icy, piece, &taken), HeadResult::Done) << piece;
        EXPECT_EQ(taken, icy.size() - 4) << "the body must be left over";
        const HttpHead& h = p.head();
        EXPECT_EQ(h.protocol, HeadProtocol::Icy);
        EXPECT_EQ(h.status, 200);
        EXPECT_EQ(h.status_line, "ICY 200 OK");
        ASSERT_EQ(h.lines.size(), 4u);
        EXPECT_EQ(h.lines[0], "icy-name:Test Radio");
        EXPECT_STREQ(h.find("ICY-NAME"), "Test Radio");
        EXPECT_EQ(h.icy_metaint(), 8192u);
        EXPECT_EQ(h.content_type(), "audio/mpeg");
        EXPECT_FALSE(h.is_chunked());
        EXPECT_EQ(h.content_length(), -1);

        HttpHeadParser q;
        ASSERT_EQ(feed_pieces(q, http_lf, piece, &taken), HeadResult::Done);
        EXPECT_EQ(taken, http_lf.size() - 4);
        EXPECT_EQ(q.head().version_minor, 1);
        EXPECT_EQ(q.head().content_type(), "audio/ogg");
        EXPECT_TRUE(q.head().is_chunked());
        EXPECT_EQ(q.head().content_length(), 42);
        EXPECT_EQ(q.head().icy_metaint(), 0u);
    }
}

TEST(HttpHead, RedirectsErrorsAndOddHeaders) {
    HttpHeadParser p;
    size_t taken;
    ASSERT_EQ(feed_pieces(p,
                          "\r\nHTTP/1.0 302 Found\r\nLocation:  http://x/y  \r\n"
                          "X-Folded: a\r\n  b\r\nicy-metaint: -5\r\n\r\n",
                          5, &taken),
              HeadResult::Done);
    EXPECT_TRUE(p.head().is_redirect());
    EXPECT_STREQ(p.head().find("location"), "http://x/y");
    EXPECT_STREQ(p.head().find("x-folded"), "a b");
    EXPECT_EQ(p.head().icy_metaint(), 0u) << "a negative interval is ignored";
    EXPECT_EQ(p.head().find("Locatio"), nullptr);

    // Lines of blanks only are no header: nothing is stored for them, so a
    // reader of the list that stops at an empty string sees what follows.
    HttpHeadParser blanks;
    ASSERT_EQ(feed_pieces(blanks,
                          "ICY 200 OK\r\n \t \r\nicy-genre: Test\n\t\r\nicy-name: Radio\r\n\r\n",
                          3, &taken),
              HeadResult::Done);
    EXPECT_EQ(blanks.head().lines, (std::vector<std::string>{"icy-genre: Test", "icy-name: Radio"}));

    HttpHeadParser no_location;
    ASSERT_EQ(feed_pieces(no_location, "HTTP/1.1 301 Moved\r\n\r\n", 100, &taken), HeadResult::Done);
    EXPECT_FALSE(no_location.head().is_redirect());

    HttpHeadParser not_found;
    ASSERT_EQ(feed_pieces(not_found, "HTTP/1.1 404 Not Found\r\n\r\n", 100, &taken),
              HeadResult::Done);
    EXPECT_FALSE(not_found.head().is_success());
    EXPECT_EQ(not_found.head().status, 404);
}

TEST(HttpHead, RejectsGarbageAndEnforcesCaps) {
    const char* bad[] = {"SIP/2.0 200 OK\r\n", "HTTP/1.1 20 OK\r\n", "HTTP/2 200\r\n",
                         "ICY 2000 OK\r\n", "HTTP/1.1 200 OK\r\n continuation first\r\n",
                         "\xFF\xFB\x90\x64 mp3 data\n"};
    for (const char* b : bad) {
        HttpHeadParser p;
        size_t taken;
        EXPECT_EQ(feed_pieces(p, b, 3, &taken), HeadResult::Error) << b;
    }
    HttpHeadParser nul;
    size_t taken;
    EXPECT_EQ(feed_pieces(nul, std::string("HTTP/1.1 200 OK\r\nA: \0b\r\n", 24), 100, &taken),
              HeadResult::Error);

    HttpHeadParser long_line;
    std::string text = "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxHeadLineLength, 'a');
    EXPECT_EQ(feed_pieces(long_line, text, 512, &taken), HeadResult::Error);

    HttpHeadParser many;
    text = "HTTP/1.1 200 OK\r\n";
    for (size_t i = 0; i <= kMaxHeadLines; ++i) text += "X-N: " + std::to_string(i) + "\r\n";
    text += "\r\n";
    EXPECT_EQ(feed_pieces(many, text, 64, &taken), HeadResult::Error);

    HttpHeadParser exact;
    text = "HTTP/1.1 200 OK\r\n";
    for (size_t i = 0; i < kMaxHeadLines; ++i) text += "X-N: " + std::to_string(i) + "\r\n";
    EXPECT_EQ(feed_pieces(exact, text + "\r\n", 64, &taken), HeadResult::Done);
    EXPECT_EQ(exact.head().lines.size(), kMaxHeadLines);

    // Blank lines before the status line: a few are taken, a flood is not.
    const std::string status = "HTTP/1.0 200 OK\r\n\r\n";
    std::string blanks;
    for (size_t i = 0; i < kMaxBlankLinesBeforeStatus; ++i) blanks += "\r\n";
    HttpHeadParser few;
    EXPECT_EQ(feed_pieces(few, blanks + status, 7, &taken), HeadResult::Done);
    HttpHeadParser flood;
    EXPECT_EQ(feed_pieces(flood, std::string(10000, '\n') + status, 4096, &taken), HeadResult::Error);
    EXPECT_LE(taken, kMaxBlankLinesBeforeStatus + 1) << "stops at the first line too many";

    // Lines within their own limits that add up to too large a head.
    HttpHeadParser large;
    text = "HTTP/1.1 200 OK\r\n";
    for (size_t i = 0; i < kMaxHeadLines / 2; ++i) text += "X-N: " + std::string(kMaxHeadBytes / 40, 'b') + "\r\n";
    EXPECT_EQ(feed_pieces(large, text + "\r\n", 1000, &taken), HeadResult::Error);
}

namespace {

// Decodes `encoded` split at the given points; returns the body and the result.
ChunkedResult decode_split(const std::string& encoded, const std::vector<size_t>& cuts,
                           std::string* body) {
    ChunkedDecoder d;
    body->clear();
    ChunkedResult r = ChunkedResult::Ok;
    size_t at = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(encoded.size());
    for (size_t end : ends) {
        if (end < at) continue;
        std::string piece = encoded.substr(at, end - at);
        size_t out = 0;
        r = d.feed(reinterpret_cast<uint8_t*>(&piece[0]), piece.size(), &out);
        body->append(piece, 0, out);
        at = end;
        if (r != ChunkedResult::Ok) break;
    }
    return r;
}

}  // namespace

TEST(Chunked, DecodesAtEverySplitPoint) {
    const std::string encoded =
        "4\r\nWiki\r\n5;ext=1\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\n";
    const std::string expect = "Wikipedia in\r\n\r\nchunks.";
    for (size_t a = 0; a <= encoded.size(); ++a) {
        for (size_t b = a; b <= encoded.size(); b += 3) {
            std::string body;
            ASSERT_EQ(decode_split(encoded, {a, b}, &body), ChunkedResult::Done) << a << "," << b;
            ASSERT_EQ(body, expect) << a << "," << b;
        }
    }
    std::string body;
    EXPECT_EQ(decode_split("3\nabc\n0\n\n", {}, &body), ChunkedResult::Done) << "LF-only";
    EXPECT_EQ(body, "abc");
}

TEST(Chunked, RandomChunkingRoundTrips) {
    std::mt19937 rng(7);
    std::string payload(20000, '\0');
    for (char& c : payload) c = static_cast<char>(rng());
    std::string encoded;
    for (size_t at = 0; at < payload.size();) {
        size_t n = std::min<size_t>(rng() % 3000 + 1, payload.size() - at);
        char size_line[32];
        snprintf(size_line, sizeof size_line, "%zx\r\n", n);
        encoded += size_line + payload.substr(at, n) + "\r\n";
        at += n;
    }
    encoded += "0\r\n\r\n";
    std::vector<size_t> cuts;
    for (size_t at = 0; at < encoded.size(); at += rng() % 700 + 1) cuts.push_back(at);
    std::string body;
    EXPECT_EQ(decode_split(encoded, cuts, &body), ChunkedResult::Done);
    EXPECT_EQ(body, payload);
}

TEST(Chunked, RejectsMalformedFraming) {
    const char* bad[] = {"g\r\n", "\r\n", "4\r\nWikiX\r\n", "4\r\nWiki\rX", "1 2\r\n",
                         "10000000000000000\r\n", "4\rx\n"};
    for (const char* b : bad) {
        std::string body;
        EXPECT_EQ(decode_split(b, {}, &body), ChunkedResult::Error) << b;
    }
    std::string longline = "1;" + std::string(kMaxChunkLineLength, 'x') + "\r\n";
    std::string body;
    EXPECT_EQ(decode_split(longline, {}, &body), ChunkedResult::Error);
}
