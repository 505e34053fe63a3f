// Download and parse against the directory server in each of its modes, and
// what the progress window shows meanwhile.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "directory/channel_list.h"
#include "directory/progress_window_res.h"
#include "settings/string_ids.h"
#include "directory/download.h"
#include "directory/progress_window.h"
#include "fixtures.h"

namespace {

using dirtest::TestHost;

constexpr char kOldContents[] = "left from an earlier start";

enum class Outcome { List, Damaged, Failed };

struct ModeCase {
    const char* mode;
    Outcome outcome;
};

std::string Describe(const std::vector<testsupport::SeenBox>& boxes) {
    std::string text;
    for (const auto& box : boxes) text += "[" + box.caption + ": " + box.text + "] ";
    return text;
}

struct Downloaded {
    int32_t channelCount;
    bool fileExists;
    std::string file;
    std::vector<testsupport::SeenBox> boxes;
};

Downloaded LoadFrom(const std::string& url) {
    dirtest::ScratchFolder folder;
    std::string path = folder.File("channels.xml");
    dirtest::WriteFile(path, kOldContents);
    testsupport::BoxWatcher answerer([](const std::string&, const std::string&) { return IDOK; });
    CChannelList* list = CreateChannelList(url.c_str(), path.c_str(), TestHost());
    Downloaded result{list ? list->channelCount : -1, dirtest::FileExists(path),
                      dirtest::ReadFile(path), answerer.Boxes()};
    EXPECT_EQ(list ? list->progressWindow : nullptr, nullptr) << "progress window left behind";
    if (list) list->Release();
    return result;
}

TEST(DirectoryDownload, EachServerModeEndsAsItShould) {
    const int served = dirtest::kServedStationCount;
    const std::string servedFile = dirtest::ReadFile(ORVANTIS_SERVED_FILE);
    const char* unreadable = TestHost().texts->GetString(IDS_LIST_UNREADABLE);
    const char* failed = TestHost().texts->GetString(IDS_DOWNLOAD_FAILED);

    const ModeCase cases[] = {
        {"normal", Outcome::List},       {"nolength", Outcome::List},
        {"drip", Outcome::List},         {"redirect", Outcome::List},
        {"404", Outcome::Damaged},
        {"500", Outcome::Damaged},       {"empty", Outcome::Damaged},
        {"reset", Outcome::Failed},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        Downloaded got = LoadFrom(dirtest::ServedListUrl(c.mode));
        switch (c.outcome) {
        case Outcome::List:
            EXPECT_EQ(got.channelCount, served);
            EXPECT_EQ(got.file, servedFile);
            EXPECT_TRUE(got.boxes.empty()) << Describe(got.boxes);
            break;
        case Outcome::Damaged:
            // The body was stored as sent and then failed to read as a list.
            EXPECT_EQ(got.channelCount, 0);
            EXPECT_TRUE(got.fileExists);
            EXPECT_NE(got.file, kOldContents);
            ASSERT_EQ(got.boxes.size(), 1u) << Describe(got.boxes);
            EXPECT_EQ(got.boxes[0].text, unreadable);
            EXPECT_EQ(got.boxes[0].caption, dirtest::kVersionedCaption);
            break;
        case Outcome::Failed:
            EXPECT_EQ(got.channelCount, 0);
            ASSERT_EQ(got.boxes.size(), 1u) << Describe(got.boxes);
            EXPECT_EQ(got.boxes[0].text, failed);
            EXPECT_EQ(got.boxes[0].caption, dirtest::kVersionedCaption);
            EXPECT_FALSE(got.fileExists) << "a failed transfer leaves no station list";
            break;
        }
    }
}

TEST(DirectoryDownload, BodyShorterThanItsLengthIsAFailedTransfer) {
    // The server closes after the real body although it promised twice as
    // much: the copy is incomplete, whatever WinINet makes of the close.
    Downloaded got = LoadFrom(dirtest::ServedListUrl("longlength"));
    EXPECT_EQ(got.channelCount, 0);
    ASSERT_EQ(got.boxes.size(), 1u) << Describe(got.boxes);
    EXPECT_EQ(got.boxes[0].text, TestHost().texts->GetString(IDS_DOWNLOAD_FAILED));
    EXPECT_FALSE(got.fileExists);
}

TEST(DirectoryDownload, UnreachableServerKeepsTheOldFileUnused) {
    ASSERT_TRUE(dirtest::ControlServer("/down"));
    Downloaded got = LoadFrom(dirtest::ServedListUrl("normal"));
    ASSERT_TRUE(dirtest::ControlServer("/up"));
    EXPECT_EQ(got.channelCount, 0);
    EXPECT_EQ(got.file, kOldContents);
    ASSERT_EQ(got.boxes.size(), 1u) << Describe(got.boxes);
    EXPECT_EQ(got.boxes[0].text, TestHost().texts->GetString(IDS_DOWNLOAD_FAILED));
}

TEST(DirectoryDownload, SlowOrEndlessBodiesFailWithinTheirLimits) {
    dirtest::ScratchFolder folder;
    const std::string path = folder.File("channels.xml");
    const DownloadLimits tight{2000, 1024 * 1024};
    struct Case {
        const char* mode;
        bool stored;
    };
    for (const Case& c : {Case{"normal", true}, Case{"stall", false}, Case{"endless", false}}) {
        SCOPED_TRACE(c.mode);
        const ULONGLONG start = GetTickCount64();
        const bool ok = DownloadStationFile(dirtest::ServedListUrl(c.mode).c_str(), path.c_str(),
                                            nullptr, TestHost(), tight);
        const ULONGLONG spent = GetTickCount64() - start;
        EXPECT_EQ(ok, c.stored);
        EXPECT_EQ(dirtest::FileExists(path), c.stored);
        // Not a speed target: far below what WinINet would wait on its own.
        EXPECT_LT(spent, 15000u);
    }
}

TEST(DirectoryDownload, EveryStartFetchesAFreshCopy) {
    // The server allows caching for an hour, numbers its answers and tells
    // whether the request asked past any cache; a second download that came
    // from a cache would show the first number.
    dirtest::ScratchFolder folder;
    const std::string path = folder.File("channels.xml");
    const std::string url = dirtest::ServedListUrl("cacheable");
    std::string first;
    std::string second;
    ASSERT_TRUE(DownloadStationFile(url.c_str(), path.c_str(), nullptr, TestHost()));
    first = dirtest::ReadFile(path);
    ASSERT_TRUE(DownloadStationFile(url.c_str(), path.c_str(), nullptr, TestHost()));
    second = dirtest::ReadFile(path);
    const size_t at = first.rfind("<!-- request ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(first.substr(at), second.substr(at)) << "the second copy came from the cache";
    EXPECT_NE(first.find("fresh=yes", at), std::string::npos) << first.substr(at);
    EXPECT_NE(second.find("fresh=yes", at), std::string::npos) << second.substr(at);
}

// The bar's position for a count: 100 over the total, times the count, in
// single precision, truncated.
int32_t Position(int64_t received, int32_t total) {
    return static_cast<int32_t>(100.0f / static_cast<float>(total) * static_cast<float>(received));
}

// Records what the download tells the status line and the bar, in order.
struct ProgressLog {
    std::vector<std::string> events;
    WNDPROC statusProc = nullptr;
    WNDPROC barProc = nullptr;
};
ProgressLog* g_log = nullptr;

LRESULT CALLBACK StatusSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT)
        g_log->events.push_back("text:" + std::string(reinterpret_cast<const char*>(lParam)));
    return CallWindowProcA(g_log->statusProc, window, message, wParam, lParam);
}

LRESULT CALLBACK BarSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) g_log->events.push_back("pos:" + std::to_string(wParam));
    if (message == PBM_SETRANGE)
        g_log->events.push_back("range:" + std::to_string(LOWORD(lParam)) + "-" +
                                std::to_string(HIWORD(lParam)));
    return CallWindowProcA(g_log->barProc, window, message, wParam, lParam);
}

std::vector<std::string> WatchDownload(const std::string& mode) {
    HWND window = CreateProgressWindow(&TestHost());
    EXPECT_NE(window, nullptr);
    if (!window) return {};
    ProgressLog log;
    g_log = &log;
    HWND status = GetDlgItem(window, IDC_PROGRESS_STATUS);
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    log.statusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusSpy)));
    log.barProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BarSpy)));
    dirtest::ScratchFolder folder;
    EXPECT_TRUE(DownloadStationFile(dirtest::ServedListUrl(mode).c_str(),
                                    folder.File("channels.xml").c_str(), window, TestHost()));
    log.events.push_back("final:" + std::to_string(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    DestroyWindow(window);
    g_log = nullptr;
    return log.events;
}

TEST(ProgressWindow, ShowsItsTextsAndIcon) {
    HWND window = CreateProgressWindow(&TestHost());
    ASSERT_NE(window, nullptr);
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, TestHost().texts->GetString(IDS_PROGRESS_CAPTION));
    GetDlgItemTextA(window, IDC_PROGRESS_STATUS, text, sizeof text);
    EXPECT_STREQ(text, TestHost().texts->GetString(IDS_PROGRESS_PREPARING));
    EXPECT_NE(GetClassLongPtrA(window, GCLP_HICON), 0);

    // No message loop runs during a download: the white band and the picture
    // must already be on screen when the window has just been made.
    HWND bandWindow = GetDlgItem(window, IDC_PROGRESS_BAND);
    HDC bandDc = GetDC(bandWindow);
    EXPECT_EQ(GetPixel(bandDc, 2, 2), RGB(255, 255, 255));
    ReleaseDC(bandWindow, bandDc);

    // The owner-drawn picture: icon 101 at 48 x 48 on the white band.
    HWND picture = GetDlgItem(window, IDC_PROGRESS_PICTURE);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 48, 48);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 48, 48};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_STATIC;
    item.CtlID = IDC_PROGRESS_PICTURE;
    item.itemAction = ODA_DRAWENTIRE;
    item.hwndItem = picture;
    item.hDC = dc;
    item.rcItem = all;
    SendMessageA(window, WM_DRAWITEM, IDC_PROGRESS_PICTURE, reinterpret_cast<LPARAM>(&item));
    EXPECT_NE(GetPixel(dc, 24, 24), RGB(255, 255, 255)) << "no icon drawn";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DestroyWindow(window);
}

TEST(ProgressWindow, CountsAndBarFollowAKnownTotal) {
    const std::string base = TestHost().texts->GetString(IDS_PROGRESS_DOWNLOADING);
    const int32_t total = static_cast<int32_t>(dirtest::ReadFile(ORVANTIS_SERVED_FILE).size());
    for (const char* mode : {"normal", "drip"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> events = WatchDownload(mode);
        ASSERT_GE(events.size(), 8u);
        EXPECT_EQ(events[0], "text:" + std::string(TestHost().texts->GetString(IDS_PROGRESS_CONNECTING)));
        EXPECT_EQ(events[1], "range:0-100");
        EXPECT_EQ(events[2], "pos:0");
        EXPECT_EQ(events[3], "text:" + base);
        EXPECT_EQ(events[4], "text:" + base + " (0/" + std::to_string(total) + ")");
        // Then one position and one count per block, the position matching the count.
        int64_t lastReceived = 0;
        size_t i = 5;
        for (; i + 1 < events.size() && events[i].rfind("pos:", 0) == 0; i += 2) {
            int received = -1, shownTotal = -1;
            std::string expectPrefix = "text:" + base + " [";
            ASSERT_EQ(events[i + 1].rfind(expectPrefix, 0), 0u) << events[i + 1];
            ASSERT_EQ(std::sscanf(events[i + 1].c_str() + expectPrefix.size(), "%d / %d Bytes]",
                                  &received, &shownTotal), 2) << events[i + 1];
            EXPECT_EQ(shownTotal, total);
            EXPECT_GT(received, lastReceived);
            EXPECT_LE(received - lastReceived, 128) << "blocks are at most 128 bytes";
            EXPECT_EQ(events[i], "pos:" + std::to_string(Position(received, total)));
            lastReceived = received;
        }
        EXPECT_EQ(lastReceived, total);
        ASSERT_EQ(i + 1, events.size());
        EXPECT_EQ(events[i], "final:100");
    }
}

TEST(ProgressWindow, UnderstatedLengthIsCountedAsItArrives) {
    // The server declares half the file and sends all of it. When the body
    // comes after the head, WinINet stops at the declared length: the list
    // is cut and unreadable. When it all came with the head, WinINet hands
    // on the whole file: it reads as the full list. Either way the counts
    // show what arrived and the bar gets the position as computed, above
    // 100 when more came than declared.
    const int32_t size = static_cast<int32_t>(dirtest::ReadFile(ORVANTIS_SERVED_FILE).size());
    const int32_t declared = size / 2;
    const std::string base = TestHost().texts->GetString(IDS_PROGRESS_DOWNLOADING);
    struct Case {
        const char* mode;
        int32_t received;
    };
    for (const Case& c : {Case{"shortlength", declared}, Case{"shortlength-together", size}}) {
        SCOPED_TRACE(c.mode);
        std::vector<std::string> events = WatchDownload(c.mode);
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[events.size() - 2],
                  "text:" + base + " [" + std::to_string(c.received) + " / " + std::to_string(declared) +
                      " Bytes]");
        EXPECT_EQ(events[events.size() - 3], "pos:" + std::to_string(Position(c.received, declared)));

        Downloaded got = LoadFrom(dirtest::ServedListUrl(c.mode));
        if (c.received == size) {
            EXPECT_EQ(got.channelCount, dirtest::kServedStationCount);
            EXPECT_TRUE(got.boxes.empty()) << Describe(got.boxes);
        } else {
            EXPECT_EQ(got.channelCount, 0);
            EXPECT_EQ(got.file.size(), static_cast<size_t>(declared));
            ASSERT_EQ(got.boxes.size(), 1u) << Describe(got.boxes);
            EXPECT_EQ(got.boxes[0].text, TestHost().texts->GetString(IDS_LIST_UNREADABLE));
        }
    }
}

TEST(ProgressWindow, NoLengthShowsNoCountsAndLeavesTheBar) {
    std::vector<std::string> events = WatchDownload("nolength");
    const std::vector<std::string> expected = {
        "text:" + std::string(TestHost().texts->GetString(IDS_PROGRESS_CONNECTING)),
        "text:" + std::string(TestHost().texts->GetString(IDS_PROGRESS_DOWNLOADING)),
        "final:0",
    };
    EXPECT_EQ(events, expected);
}

}  // namespace
