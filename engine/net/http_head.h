// Incremental parser of an HTTP/1.x or ICY response head (status line and
// header lines up to the empty line). Bytes arrive in whatever pieces the
// socket delivers; the parser stops at the end of the head and says how much
// of the last piece it took, the rest being body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

constexpr size_t kMaxHeadLineLength = 8192;  // longer lines fail the response
constexpr size_t kMaxHeadLines = 100;        // header lines, status line excluded
constexpr size_t kMaxHeadBytes = 64 * 1024;  // the whole head, blank lines before it included
constexpr size_t kMaxBlankLinesBeforeStatus = 16;
constexpr uint32_t kMaxIcyMetaint = 1u << 20;  // larger intervals are refused

enum class HeadProtocol { Http, Icy };

struct HttpHead {
    HeadProtocol protocol = HeadProtocol::Http;
    int version_minor = 0;     // HTTP/1.x: x; ICY: 0
    int status = 0;            // 200, 302, 404, ...
    std::string status_line;   // as received, without the line end
    std::vector<std::string> lines;  // header lines as received, without line ends

    // Value of the first header named `name` (case-insensitive), with blanks
    // around it removed; nullptr when absent.
    const char* find(const char* name) const;

    bool is_redirect() const;  // 301, 302, 303, 307, 308 with a Location
    bool is_success() const;   // 2xx
    bool is_chunked() const;   // Transfer-Encoding names chunked (last coding)
    // Content-Length, or -1 when absent or not a plain decimal number.
    int64_t content_length() const;
    // icy-metaint in bytes; 0 when absent, malformed, 0, or above kMaxIcyMetaint.
    uint32_t icy_metaint() const;
    // Content-Type in lower case without parameters ("audio/mpeg"); "" if absent.
    std::string content_type() const;
};

enum class HeadResult {
    NeedMore,  // all input consumed, head not complete
    Done,      // head complete; the rest of the input is body
    Error,     // not a response we accept (see error())
};

class HttpHeadParser {
public:
    // Feeds the next bytes. *consumed receives how many were taken: all of them
    // for NeedMore, up to and including the empty line for Done. Accepts CRLF
    // and bare LF line ends, status lines "HTTP/1.0", "HTTP/1.1" and "ICY",
    // and a few blank lines before the status line; a head beyond the limits
    // above fails.
    // Obsolete folded header lines (starting with a blank) are joined to the
    // line before. After Done or Error further calls return the same result
    // and consume nothing.
    HeadResult feed(const uint8_t* data, size_t size, size_t* consumed);

    const HttpHead& head() const { return head_; }
    const char* error() const { return error_; }
    void reset();

private:
    HeadResult fail(const char* why);
    HeadResult finish_line();

    HttpHead head_;
    std::string line_;
    bool have_status_ = false;
    size_t bytes_ = 0;
    size_t blank_lines_ = 0;
    HeadResult state_ = HeadResult::NeedMore;
    const char* error_ = "";
};

}  // namespace engine
