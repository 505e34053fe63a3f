#include "directory/download.h"

#include <commctrl.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "directory/directory_ids.h"
#include "directory/progress_text.h"
#include "directory/progress_window.h"

namespace {

constexpr DWORD kTransferSize = 128;
constexpr DWORD kLengthTextSize = 16;
constexpr size_t kStatusSize = 512;

void SetBar(HWND progressWindow, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!progressWindow) return;
    SendDlgItemMessageA(progressWindow, kProgressBarId, message, wParam, lParam);
    UpdateWindow(GetDlgItem(progressWindow, kProgressBarId));  // no message loop runs meanwhile
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
    auto* buffer = static_cast<char*>(std::calloc(1, kTransferSize));
    if (!buffer) return false;
    SetProgressStatus(progressWindow, HostText(host, kTextConnecting));

    bool ok = false;
    HINTERNET root = InternetOpenA("", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlA(root, url, nullptr, 0, 0, 0) : nullptr;
    if (request) {
        int32_t total = QueryTotal(request);
        if (total > 0) {
            SetBar(progressWindow, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressRangeMax));
            SetBar(progressWindow, PBM_SETPOS, 0, 0);
        }
        char base[kStatusSize] = {};
        char status[kStatusSize] = {};
        std::snprintf(base, sizeof base, "%s", HostText(host, kTextDownloading));
        SetProgressStatus(progressWindow, base);

        HANDLE file = CreateFileA(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (total > 0) {
                FormatStartCount(status, sizeof status, base, total);
                SetProgressStatus(progressWindow, status);
            }
            bool written = true;
            int64_t received = 0;
            for (;;) {
                DWORD read = 0;
                if (!InternetReadFile(request, buffer, kTransferSize, &read)) break;
                if (read == 0) {
                    ok = written;
                    break;
                }
                DWORD wrote = 0;
                // A short write spoils the copy, but the transfer runs to its end.
                if (!WriteFile(file, buffer, read, &wrote, nullptr) || wrote != read) written = false;
                std::memset(buffer, 0, kTransferSize);
                received += read;
                if (total > 0) {
                    SetBar(progressWindow, PBM_SETPOS,
                           static_cast<WPARAM>(ProgressPosition(received, total)), 0);
                    FormatByteCount(status, sizeof status, base, received, total);
                    SetProgressStatus(progressWindow, status);
                }
            }
            CloseHandle(file);
            // No half-written list is left for a later start to trip over.
            if (!ok) DeleteFileA(localPath);
        }
    }
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    std::free(buffer);
    return ok;
}
