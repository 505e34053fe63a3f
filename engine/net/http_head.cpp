#include "engine/net/http_head.h"

#include <cstring>

namespace engine {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Parses a decimal number of at most max_digits digits; false if anything else.
bool parse_decimal(const char* s, int max_digits, int64_t* out) {
    int64_t v = 0;
    int digits = 0;
    for (; *s; ++s, ++digits) {
        if (*s < '0' || *s > '9' || digits >= max_digits) return false;
        v = v * 10 + (*s - '0');
    }
    if (digits == 0) return false;
    *out = v;
    return true;
}

}  // namespace

const char* HttpHead::find(const char* name) const {
    const size_t n = std::strlen(name);
    for (const std::string& line : lines) {
        if (line.size() <= n || line[n] != ':') continue;
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) same = lower(line[i]) == lower(name[i]);
        if (!same) continue;
        const char* v = line.c_str() + n + 1;
        while (is_blank(*v)) ++v;
        return v;  // trailing blanks were removed when the line was stored
    }
    return nullptr;
}

bool HttpHead::is_success() const { return status >= 200 && status <= 299; }

bool HttpHead::is_redirect() const {
    const bool code = status == 301 || status == 302 || status == 303 || status == 307 ||
                      status == 308;
    const char* location = find("Location");
    return code && location && *location;
}

bool HttpHead::is_chunked() const {
    const char* te = find("Transfer-Encoding");
    if (!te) return false;
    // The last coding decides: "gzip, chunked" is still chunked framing.
    std::string v;
    for (const char* p = te; *p; ++p) v += lower(*p);
    const size_t comma = v.rfind(',');
    std::string last = comma == std::string::npos ? v : v.substr(comma + 1);
    while (!last.empty() && is_blank(last.front())) last.erase(0, 1);
    while (!last.empty() && is_blank(last.back())) last.pop_back();
    return last == "chunked";
}

int64_t HttpHead::content_length() const {
    const char* v = find("Content-Length");
    int64_t n = 0;
    if (!v || !parse_decimal(v, 18, &n)) return -1;
    return n;
}

uint32_t HttpHead::icy_metaint() const {
    const char* v = find("icy-metaint");
    int64_t n = 0;
    if (!v || !parse_decimal(v, 10, &n) || n <= 0 || n > kMaxIcyMetaint) return 0;
    return static_cast<uint32_t>(n);
}

std::string HttpHead::content_type() const {
    const char* v = find("Content-Type");
    std::string t;
    if (!v) return t;
    for (const char* p = v; *p && *p != ';'; ++p) t += lower(*p);
    while (!t.empty() && is_blank(t.back())) t.pop_back();
    return t;
}

void HttpHeadParser::reset() {
    head_ = HttpHead();
    line_.clear();
    have_status_ = false;
    bytes_ = 0;
    blank_lines_ = 0;
    state_ = HeadResult::NeedMore;
    error_ = "";
}

HeadResult HttpHeadParser::fail(const char* why) {
    error_ = why;
    state_ = HeadResult::Error;
    return state_;
}

HeadResult HttpHeadParser::feed(const uint8_t* data, size_t size, size_t* consumed) {
    *consumed = 0;
    if (state_ != HeadResult::NeedMore) return state_;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (++bytes_ > kMaxHeadBytes) {
            *consumed = i + 1;
            return fail("response head too large");
        }
        if (c == '\n') {
            *consumed = i + 1;
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            const HeadResult r = finish_line();
            if (r != HeadResult::NeedMore) return r;
            continue;
        }
        if (c == '\0') {
            *consumed = i + 1;
            return fail("NUL byte in response head");
        }
        if (line_.size() >= kMaxHeadLineLength) {
            *consumed = i + 1;
            return fail("response head line too long");
        }
        line_ += c;
    }
    *consumed = size;
    return state_;
}

HeadResult HttpHeadParser::finish_line() {
    std::string line;
    line.swap(line_);
    if (!have_status_) {
        // Some servers send blank lines before the status line; a few.
        if (line.empty()) {
            if (++blank_lines_ > kMaxBlankLinesBeforeStatus)
                return fail("too many blank lines before the status line");
            return HeadResult::NeedMore;
        }
        const char* s = line.c_str();
        if (std::strncmp(s, "HTTP/1.", 7) == 0 && s[7] >= '0' && s[7] <= '9' && s[8] == ' ') {
            head_.protocol = HeadProtocol::Http;
            head_.version_minor = s[7] - '0';
            s += 9;
        } else if (std::strncmp(s, "ICY ", 4) == 0) {
            head_.protocol = HeadProtocol::Icy;
            s += 4;
        } else {
            return fail("not an HTTP or ICY status line");
        }
        if (!(s[0] >= '1' && s[0] <= '5' && s[1] >= '0' && s[1] <= '9' && s[2] >= '0' &&
              s[2] <= '9' && (s[3] == '\0' || s[3] == ' ')))
            return fail("bad status code");
        head_.status = (s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0');
        head_.status_line = line;
        have_status_ = true;
        return HeadResult::NeedMore;
    }
    if (line.empty()) {
        state_ = HeadResult::Done;
        return state_;
    }
    while (!line.empty() && is_blank(line.back())) line.pop_back();
    // Blanks only: not the end of the head, and no header either. Stored, it
    // would be an empty string, which ends the tag list for its readers.
    if (line.empty()) return HeadResult::NeedMore;
    if (is_blank(line[0])) {
        // A folded continuation of the previous line.
        if (head_.lines.empty()) return fail("continuation line without a header");
        size_t start = 0;
        while (start < line.size() && is_blank(line[start])) ++start;
        std::string& prev = head_.lines.back();
        if (prev.size() + 1 + line.size() - start > kMaxHeadLineLength)
            return fail("response head line too long");
        prev += ' ';
        prev.append(line, start, std::string::npos);
        return HeadResult::NeedMore;
    }
    if (head_.lines.size() >= kMaxHeadLines) return fail("too many header lines");
    head_.lines.push_back(line);
    return HeadResult::NeedMore;
}

}  // namespace engine
