// Opens a radio stream over HTTP or HTTPS: connects, sends the request, reads
// the response head, follows redirects and playlists, and hands back the body.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "versions.h"

#include "engine/net/chunked.h"
#include "engine/net/http_head.h"
#include "engine/net/socket_win.h"
#include "engine/net/url.h"

namespace engine {

constexpr DWORD kConnectTimeoutMs = 5000;
constexpr DWORD kStallTimeoutMs = 20000;  // no byte for this long ends a stream
constexpr int kMaxRedirects = 8;
constexpr int kMaxPlaylistDepth = 4;
constexpr char kUserAgent[] = "Orvantis-Engine/" BASS_VERSION_INTERFACE_TEXT;

// The body of a response: chunked transfer coding undone, bytes already read
// with the head delivered first, a Content-Length honoured.
class HttpBody {
public:
    HttpBody(std::unique_ptr<Connection> connection, const HttpHead& head, std::string early);
    // Bytes read (> 0), 0 at the end of the body, or a negative SocketResult.
    int Read(uint8_t* buffer, int size, DWORD timeoutMs);
    // Puts bytes back in front of the body (they were only looked at).
    void Unread(const uint8_t* data, size_t size);
    // True once the body ended by its own framing (its Content-Length, or
    // the last chunk), not because the connection went.
    bool Complete() const { return complete_; }

private:
    std::unique_ptr<Connection> connection_;
    std::string early_;  // raw body bytes that came with the head
    std::string unread_; // decoded bytes given back
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    bool done_ = false;
    bool complete_ = false;
    int64_t left_ = -1;  // Content-Length still to come, -1 = unknown
};

struct HttpOpenOptions {
    bool follow_playlists = false;
    // The body as it comes, for the parts of an HLS stream: no playlist
    // handling, no ICY metadata asked for.
    bool raw = false;
    // Bytes [range_offset, range_offset + range_length) only (a Range
    // request); 0: the whole body. A server that ignores the range answers
    // 200 with all of it: the caller checks the status.
    uint64_t range_offset = 0;
    uint64_t range_length = 0;
    // Each response line, as it arrives; may be empty.
    std::function<void(const std::string& line)> status;
    std::vector<HANDLE> cancel;
    // Bounds every step together (connect, head, redirects, playlists); may be null.
    const Deadline* deadline = nullptr;
};

struct HttpResponse {
    Url url;  // where the stream finally came from
    HttpHead head;
    std::unique_ptr<HttpBody> body;
    // An HLS playlist (recognised by its text, whatever its type or name):
    // its whole text, and no body. Found whether or not playlists are
    // followed, since there is no other way to play the address.
    bool hls = false;
    std::string playlist;
};


// 0 on success, else the engine error code (BASS_ERROR_*); kHttpCancelled
// when one of the cancel events ended it.
constexpr int kHttpCancelled = -1000;
int HttpOpen(const char* url, const HttpOpenOptions& options, HttpResponse* out);

}  // namespace engine
