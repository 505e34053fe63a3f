#include "engine/net/http_win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/hls/m3u8.h"
#include "engine/net/playlist.h"
#include "engine/net/tls_win.h"
#include "engine/include/bass.h"

namespace engine {

namespace {

constexpr size_t kReceiveChunk = 4096;

int SocketError(int result) {
    switch (result) {
    case kSocketCancelled: return kHttpCancelled;
    case kSocketTimeout: return BASS_ERROR_TIMEOUT;
    case kSocketTlsFailed: return BASS_ERROR_SSL;
    default: return BASS_ERROR_FILEOPEN;
    }
}

// A step's own time limit, or less when the overall deadline comes sooner.
DWORD Limit(const HttpOpenOptions& options, DWORD ms) {
    return options.deadline ? options.deadline->Cap(ms) : ms;
}

// A server that keeps sending, however slowly, still ends at the deadline.
bool OutOfTime(const HttpOpenOptions& options) {
    return options.deadline && options.deadline->Passed();
}

std::string RequestFor(const Url& url, const HttpOpenOptions& options) {
    std::string request;
    request.reserve(256 + url.target.size());
    request += "GET " + url.target + " HTTP/1.1\r\n";
    request += "Host: " + url_host_header(url) + "\r\n";
    request += std::string("User-Agent: ") + kUserAgent + "\r\n";
    request += "Accept: */*\r\n";
    if (!options.raw) request += "Icy-MetaData: 1\r\n";
    if (options.range_length > 0) {
        request += "Range: bytes=" + std::to_string(options.range_offset) + "-" +
                   std::to_string(options.range_offset + options.range_length - 1) + "\r\n";
    }
    request += "Connection: close\r\n\r\n";
    return request;
}

// Connects to url and reads the response head; the bytes behind it go to *early.
int Exchange(const Url& url, const HttpOpenOptions& options,
             std::unique_ptr<Connection>* connection, HttpHead* head, std::string* early) {
    auto tcp = std::make_unique<TcpConnection>(options.cancel);
    int r = tcp->Connect(url.host.c_str(), url.port, Limit(options, kConnectTimeoutMs));
    if (r != kSocketOk) return SocketError(r);
    std::unique_ptr<Connection> c;
    if (url.scheme == UrlScheme::Https) {
        auto tls = std::make_unique<TlsConnection>(std::move(tcp));
        r = tls->Handshake(url.host, Limit(options, kConnectTimeoutMs));
        if (r != kSocketOk) return SocketError(r);
        c = std::move(tls);
    } else {
        c = std::move(tcp);
    }
    std::string request = RequestFor(url, options);
    r = c->SendAll(request.data(), request.size(), Limit(options, kConnectTimeoutMs));
    if (r != kSocketOk) return SocketError(r);

    HttpHeadParser parser;
    uint8_t buffer[kReceiveChunk];
    for (;;) {
        if (OutOfTime(options)) return BASS_ERROR_TIMEOUT;
        int n = c->Recv(buffer, sizeof buffer, Limit(options, kStallTimeoutMs));
        if (n == 0) return BASS_ERROR_FILEOPEN;  // closed before the head ended
        if (n < 0) return SocketError(n);
        size_t consumed = 0;
        HeadResult h = parser.feed(buffer, static_cast<size_t>(n), &consumed);
        if (h == HeadResult::Error) return BASS_ERROR_FILEOPEN;
        if (h == HeadResult::Done) {
            *head = parser.head();
            if (options.status) {
                options.status(head->status_line);
                for (const std::string& line : head->lines) options.status(line);
            }
            early->assign(reinterpret_cast<const char*>(buffer) + consumed,
                          static_cast<size_t>(n) - consumed);
            *connection = std::move(c);
            return 0;
        }
    }
}

bool LooksLikeAudioType(const std::string& type) {
    return type.rfind("audio/", 0) == 0 || type == "application/ogg" ||
           type == "application/octet-stream";
}

// Reads the whole playlist body, at most `limit` bytes.
int ReadPlaylist(HttpBody* body, const HttpOpenOptions& options, size_t limit, std::string* text) {
    uint8_t buffer[kReceiveChunk];
    for (;;) {
        if (OutOfTime(options)) return BASS_ERROR_TIMEOUT;
        int n = body->Read(buffer, sizeof buffer, Limit(options, kStallTimeoutMs));
        if (n == 0) return 0;
        if (n < 0) return SocketError(n);
        if (text->size() + static_cast<size_t>(n) > limit) return BASS_ERROR_FILEOPEN;
        text->append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
}

// The body's first bytes, up to `size` or its end, for a look.
int Peek(HttpBody* body, const HttpOpenOptions& options, uint8_t* peek, size_t size, size_t* got) {
    *got = 0;
    while (*got < size) {
        if (OutOfTime(options)) return BASS_ERROR_TIMEOUT;
        int n = body->Read(peek + *got, static_cast<int>(size - *got), Limit(options, kStallTimeoutMs));
        if (n == 0) break;
        if (n < 0) return SocketError(n);
        *got += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

HttpBody::HttpBody(std::unique_ptr<Connection> connection, const HttpHead& head,
                   std::string early)
    : connection_(std::move(connection)), early_(std::move(early)) {
    chunked_ = head.is_chunked();
    if (!chunked_) left_ = head.content_length();
}

void HttpBody::Unread(const uint8_t* data, size_t size) {
    unread_.insert(0, reinterpret_cast<const char*>(data), size);
}

int HttpBody::Read(uint8_t* buffer, int size, DWORD timeoutMs) {
    if (size <= 0) return kSocketError;
    if (!unread_.empty()) {
        size_t n = unread_.size() < static_cast<size_t>(size) ? unread_.size() : size;
        memcpy(buffer, unread_.data(), n);
        unread_.erase(0, n);
        return static_cast<int>(n);
    }
    DWORD start = GetTickCount();
    while (!done_) {
        if (left_ == 0) {
            done_ = complete_ = true;
            break;
        }
        int want = size;
        if (left_ > 0 && left_ < want) want = static_cast<int>(left_);
        int n;
        if (!early_.empty()) {
            n = early_.size() < static_cast<size_t>(want) ? static_cast<int>(early_.size()) : want;
            memcpy(buffer, early_.data(), static_cast<size_t>(n));
            early_.erase(0, static_cast<size_t>(n));
        } else {
            DWORD used = GetTickCount() - start;
            n = connection_->Recv(buffer, want, used >= timeoutMs ? 0 : timeoutMs - used);
            if (n == 0) {
                done_ = true;
                break;
            }
            if (n < 0) return n;
        }
        if (!chunked_) {
            if (left_ > 0) left_ -= n;
            return n;
        }
        size_t decoded = 0;
        ChunkedResult c = chunks_.feed(buffer, static_cast<size_t>(n), &decoded);
        if (c == ChunkedResult::Error) return kSocketError;
        if (c == ChunkedResult::Done) done_ = complete_ = true;
        if (decoded > 0) return static_cast<int>(decoded);
    }
    return 0;
}

int HttpOpen(const char* text, const HttpOpenOptions& options, HttpResponse* out) {
    Url url;
    UrlStatus parsed = parse_url(text, &url);
    if (parsed != UrlStatus::Ok) return BASS_ERROR_FILEOPEN;
    uint8_t peek[std::max(kPlaylistSniffBytes, hls::kHlsSniffBytes)];

    int redirects = 0;
    int playlists = 0;
    for (;;) {
        std::unique_ptr<Connection> connection;
        HttpHead head;
        std::string early;
        int r = Exchange(url, options, &connection, &head, &early);
        if (r != 0) return r;

        if (head.is_redirect()) {
            Url next;
            if (++redirects > kMaxRedirects) return BASS_ERROR_FILEOPEN;
            const UrlStatus to = resolve_url(url, head.find("Location"), &next);
            if (to != UrlStatus::Ok) return BASS_ERROR_FILEOPEN;
            url = next;
            continue;
        }
        if (!head.is_success()) return BASS_ERROR_FILEOPEN;

        auto body = std::make_unique<HttpBody>(std::move(connection), head, std::move(early));
        const std::string type = head.content_type();
        PlaylistKind kind = options.raw ? PlaylistKind::None : detect_playlist(type.c_str(), nullptr, 0);
        if (!options.raw && (kind == PlaylistKind::M3u || (kind == PlaylistKind::None && !LooksLikeAudioType(type)))) {
            // The first block of the body decides (HLS says M3U too), however
            // it was split on the way.
            size_t got = 0;
            r = Peek(body.get(), options, peek, sizeof peek, &got);
            if (r != 0) return r;
            if (hls::is_hls_playlist(peek, got)) {
                out->hls = true;
                r = ReadPlaylist(body.get(), options, hls::kMaxM3u8Bytes - got, &out->playlist);
                if (r != 0) return r;
                out->playlist.insert(0, reinterpret_cast<const char*>(peek), got);
                out->url = url;
                out->head = std::move(head);
                return 0;
            }
            if (kind == PlaylistKind::None) kind = detect_playlist(type.c_str(), peek, got);
            body->Unread(peek, got);
        }
        if (options.follow_playlists && kind != PlaylistKind::None) {
            std::string list;
            r = ReadPlaylist(body.get(), options, kMaxPlaylistBytes, &list);
            if (r != 0) return r;
            Url next;
            if (++playlists > kMaxPlaylistDepth ||
                !playlist_first_stream(kind, reinterpret_cast<const uint8_t*>(list.data()), list.size(),
                                       url, &next))
                return BASS_ERROR_FILEOPEN;
            url = next;
            continue;
        }
        out->url = url;
        out->head = std::move(head);
        out->body = std::move(body);
        return 0;
    }
}

}  // namespace engine
