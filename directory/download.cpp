#include "directory/download.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/scoped_handle.h"
#include "common/scoped_internet.h"
#include "directory/progress_text.h"
#include "directory/progress_window.h"
#include "directory/progress_window_res.h"
#include "settings/string_ids.h"

namespace {

constexpr DWORD kTransferSize = 128;
constexpr DWORD kLengthTextSize = 16;
constexpr size_t kStatusSize = 512;
// A fresh copy from the server at every start: never one from the cache, nor
// from a proxy's.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE;

void SetBar(HWND progressWindow, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!progressWindow) return;
    SendDlgItemMessageA(progressWindow, IDC_PROGRESS_BAR, message, wParam, lParam);
    UpdateWindow(GetDlgItem(progressWindow, IDC_PROGRESS_BAR));  // no message loop runs meanwhile
}

// The expected total from the response headers, 0 when there is none.
int32_t QueryTotal(HINTERNET request) {
    char text[kLengthTextSize] = {};
    DWORD length = kLengthTextSize;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) return 0;
    return ParseContentLength(text);
}

// Milliseconds left of the deadline that began at start; 0 once it has passed.
DWORD TimeLeft(ULONGLONG start, DWORD deadlineMs) {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= deadlineMs ? 0 : static_cast<DWORD>(deadlineMs - spent);
}

// The GET of url, sent, with its head read: the connection and the request.
// The time-outs are set on the request before it is sent, so they also bound
// the wait for the head and for every read of the body; a request opened in
// one step (InternetOpenUrl) reads its head before they could be set.
struct Request {
    ScopedInternet connection;
    ScopedInternet request;
};

bool SendRequest(HINTERNET root, const char* url, DWORD timeoutMs, Request* out) {
    char host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    char path[INTERNET_MAX_URL_LENGTH] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.dwExtraInfoLength = 1;  // the query: found in place, after the path
    if (!InternetCrackUrlA(url, 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    std::string target = path[0] ? path : "/";
    if (parts.lpszExtraInfo) target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    out->connection.reset(InternetConnectA(root, host, parts.nPort, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
    if (!out->connection) return false;
    const DWORD flags =
        kRequestFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    out->request.reset(HttpOpenRequestA(out->connection.get(), "GET", target.c_str(), nullptr,
                                        nullptr, nullptr, flags, 0));
    if (!out->request) return false;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(out->request.get(), option, &timeoutMs, sizeof timeoutMs);
    return HttpSendRequestA(out->request.get(), nullptr, 0, nullptr, 0) != FALSE;
}

}  // namespace

bool DownloadStationFile(const char* url, const char* localPath, HWND progressWindow,
                         const DirectoryHost& host, const DownloadLimits& limits) {
    char buffer[kTransferSize] = {};
    const ULONGLONG start = GetTickCount64();
    SetProgressStatus(progressWindow, HostText(host, IDS_PROGRESS_CONNECTING));

    ScopedInternet root(InternetOpenA("", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!root) return false;
    Request sent;
    if (!SendRequest(root.get(), url, limits.deadlineMs, &sent)) return false;
    HINTERNET request = sent.request.get();

    const int32_t total = QueryTotal(request);
    if (total > 0) {
        SetBar(progressWindow, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressRangeMax));
        SetBar(progressWindow, PBM_SETPOS, 0, 0);
    }
    char base[kStatusSize] = {};
    char status[kStatusSize] = {};
    std::snprintf(base, sizeof base, "%s", HostText(host, IDS_PROGRESS_DOWNLOADING));
    SetProgressStatus(progressWindow, base);

    ScopedHandle file(CreateFileA(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (total > 0) {
        FormatStartCount(status, sizeof status, base, total);
        SetProgressStatus(progressWindow, status);
    }
    bool ok = false;
    bool written = true;
    int64_t received = 0;
    for (;;) {
        // A body that drips or never ends fails like a broken one.
        if (TimeLeft(start, limits.deadlineMs) == 0 || received > limits.maxBytes) break;
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, kTransferSize, &read)) break;
        if (read == 0) {
            // A body that ends before its announced length was cut off: some
            // WinINet versions report that as a normal end.
            ok = written && (total <= 0 || received >= total);
            break;
        }
        DWORD wrote = 0;
        // A short write spoils the copy, but the transfer runs to its end.
        if (!WriteFile(file.get(), buffer, read, &wrote, nullptr) || wrote != read) written = false;
        std::memset(buffer, 0, kTransferSize);
        received += read;
        if (total > 0) {
            SetBar(progressWindow, PBM_SETPOS,
                   static_cast<WPARAM>(ProgressPosition(received, total)), 0);
            FormatByteCount(status, sizeof status, base, received, total);
            SetProgressStatus(progressWindow, status);
        }
    }
    file.reset();
    // No half-written list is left for a later start to trip over.
    if (!ok) DeleteFileA(localPath);
    return ok;
}
