#include "directory/download.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "directory/progress_window_res.h"
#include "settings/string_ids.h"
#include "common/scoped_handle.h"
#include "common/scoped_internet.h"
#include "directory/progress_text.h"
#include "directory/progress_window.h"

namespace {

constexpr DWORD kTransferSize = 128;
constexpr DWORD kLengthTextSize = 16;
constexpr size_t kStatusSize = 512;

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

}  // namespace

bool DownloadStationFile(const char* url, const char* localPath, HWND progressWindow,
                         const DirectoryHost& host) {
    char buffer[kTransferSize] = {};
    SetProgressStatus(progressWindow, HostText(host, IDS_PROGRESS_CONNECTING));

    ScopedInternet root(InternetOpenA("", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!root) return false;
    ScopedInternet request(InternetOpenUrlA(root.get(), url, nullptr, 0, 0, 0));
    if (!request) return false;

    const int32_t total = QueryTotal(request.get());
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
        DWORD read = 0;
        if (!InternetReadFile(request.get(), buffer, kTransferSize, &read)) break;
        if (read == 0) {
            ok = written;
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
