#include "player_window.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/res/resource.h"
#include "directory/station_list_box.h"
#include "engine/include/bass.h"
#include "playback/spectrum_analyzer.h"
#include "settings/language_manager.h"

namespace playertest {

namespace {

constexpr DWORD kPollMs = 5;
constexpr int kFields[] = {IDC_NAME, IDC_TITLE, IDC_BITRATE};
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr int kSpectrumWidth = 5888;

PlayerWindow* g_current = nullptr;

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

std::string WindowsPath(const std::string& unix) {
    std::string path = "Z:" + unix;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// A station list with one station per address, in the format of channels.xml.
std::string StationXml(const std::vector<std::string>& urls) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><orvantisclient version=\"17\">"
                      "<stationlist>";
    for (size_t i = 0; i < urls.size(); ++i) {
        xml += "<s><id v=\"" + std::to_string(i + 1) + "\"/><name v=\"Station " +
               std::to_string(i + 1) + "\"/>";
        std::string url;
        for (char c : urls[i]) url += c == '&' ? std::string("&amp;") : std::string(1, c);
        if (!url.empty()) xml += "<serverlist><server v=\"" + url + "\"/></serverlist>";
        xml += "</s>";
    }
    return xml + "</stationlist></orvantisclient>";
}

// Records every text set into one of the three fields, then lets it through.
// Installed in the field's own character set, so it does not change it.
LRESULT CALLBACK FieldSpy(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    auto previous = reinterpret_cast<WNDPROC>(GetPropA(control, "playertest.proc"));
    const bool wide = IsWindowUnicode(control) != FALSE;
    if (message == WM_SETTEXT && lParam) {
        std::wstring text;
        if (wide) {
            text = reinterpret_cast<const wchar_t*>(lParam);
        } else {
            wchar_t buffer[1024] = {};
            MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(lParam), -1, buffer, 1024);
            text = buffer;
        }
        PlayerWindow::Record(GetDlgCtrlID(control), text);
    }
    return wide ? CallWindowProcW(previous, control, message, wParam, lParam)
                : CallWindowProcA(previous, control, message, wParam, lParam);
}

void Spy(HWND field) {
    if (IsWindowUnicode(field)) {
        SetPropA(field, "playertest.proc", reinterpret_cast<HANDLE>(GetWindowLongPtrW(field, GWLP_WNDPROC)));
        SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FieldSpy));
    } else {
        SetPropA(field, "playertest.proc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(field, GWLP_WNDPROC)));
        SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FieldSpy));
    }
}

}  // namespace

std::string RadioUrl(const std::string& path) {
    return "http://127.0.0.1:" + EnvOr("ORVANTIS_RADIO_PORT", "1") + path;
}

std::string IcecastUrl(const std::string& path) {
    return "http://127.0.0.1:" + EnvOr("ORVANTIS_ICECAST_PORT", "1") + path;
}

int RadioLiveStreams() {
    int live = -1;
    HINTERNET root = InternetOpenA("", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlA(root, RadioUrl("/live").c_str(), nullptr, 0,
                                                INTERNET_FLAG_RELOAD, 0)
                             : nullptr;
    if (request) {
        char text[32] = {};
        DWORD read = 0;
        if (InternetReadFile(request, text, sizeof text - 1, &read) && read > 0) live = std::atoi(text);
        InternetCloseHandle(request);
    }
    if (root) InternetCloseHandle(root);
    return live;
}

int ThreadCount() {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

Options PlayerWindow::DefaultOptions() {
    Options options;
    options.volume = 0.8f;
    options.pan = 0.0f;
    return options;
}

PlayerWindow::PlayerWindow(const std::vector<std::string>& stationUrls, int device, Options options)
    : options_(options) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    g_current = this;
    const std::string xml = StationXml(stationUrls);
    EXPECT_EQ(stations_.ParseBuffer(xml.data(), xml.size()), ParseOutcome::Ok);
    language_ = new CLanguageManager(WindowsPath(EnvOr("ORVANTIS_DIST", "")).c_str(), "lang",
                                     kEnglish);
    EXPECT_TRUE(language_->IsLoaded());

    window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_MAIN), nullptr,
                                 Proc, 0);
    EXPECT_NE(window_, nullptr);
    engine_ = BASS_Init(device, 44100, 0, window_, nullptr) != FALSE;
    EXPECT_TRUE(engine_) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);

    RECT panel = {};
    GetWindowRect(GetDlgItem(window_, IDC_INFO_GROUP), &panel);
    POINT corner = {panel.left, panel.top};
    ScreenToClient(window_, &corner);
    EXPECT_NE(spectrum::Create(GetModuleHandleA(nullptr), window_, corner.x, corner.y,
                               kSpectrumWidth, panel.bottom - panel.top, false),
              nullptr);
    spectrum::SetBarArea(panel.right - panel.left);
    spectrum::SetBarCount(panel.right - panel.left);

    listBox_ = std::make_unique<StationListBox>(GetDlgItem(window_, IDC_STATIONS),
                                                GetModuleHandleA(nullptr));
    for (ChannelEntry* e = stations_.first; e; e = e->next) listBox_->AddChannel(e);

    playback::PlayerHost host;
    host.window = window_;
    host.listBox = GetDlgItem(window_, IDC_STATIONS);
    host.stations = [this]() -> ChannelListModel* { return &stations_; };
    host.text = [this](int id) -> const char* {
        const char* text = language_->GetString(id);
        return text ? text : "";
    };
    host.wideText = [this](int id) -> const wchar_t* {
        const wchar_t* text = language_->GetWideString(id);
        return text ? text : L"";
    };
    host.setTitle = [this](const char* text) {
        SetWindowTextA(window_, *text ? (std::string("Test: ") + text).c_str() : "Test");
    };
    host.caption = "Orvantis";
    host.options = &options_;
    player_ = std::make_unique<playback::StreamPlayer>(host);
    // Spied on after the player made the fields Unicode, as a window would see them.
    for (int id : kFields) Spy(GetDlgItem(window_, id));
}

PlayerWindow::~PlayerWindow() {
    if (player_) player_->Stop();
    if (engine_) BASS_Free();
    if (player_) {
        EXPECT_TRUE(player_->WaitForThreads(kPatienceMs)) << "play threads left";
        player_.reset();
    }
    listBox_.reset();
    if (window_) DestroyWindow(window_);
    language_->Release();
    g_current = nullptr;
}

void PlayerWindow::Play(int row) {
    SendDlgItemMessageA(window_, IDC_STATIONS, LB_SETCURSEL, row, 0);
    player_->Start();
}

void PlayerWindow::Stop() { player_->Stop(); }

bool PlayerWindow::PumpUntil(const std::function<bool()>& done, DWORD limit) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > limit) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    }
}

void PlayerWindow::PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

std::wstring PlayerWindow::Field(int control) const {
    wchar_t text[1024] = {};
    SendDlgItemMessageW(window_, control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

bool PlayerWindow::FieldEnabled(int control) const {
    return IsWindowEnabled(GetDlgItem(window_, control)) != FALSE;
}

int PlayerWindow::MeterPosition(int control) const {
    return static_cast<int>(SendDlgItemMessageA(window_, control, PBM_GETPOS, 0, 0));
}

int PlayerWindow::MeterTop(int control) const {
    return static_cast<int>(SendDlgItemMessageA(window_, control, PBM_GETRANGE, FALSE, 0));
}

std::wstring PlayerWindow::Caption() const {
    wchar_t text[256] = {};
    GetWindowTextW(window_, text, 256);
    return text;
}

void PlayerWindow::Record(int control, const std::wstring& text) {
    if (g_current) g_current->history_.push_back({control, text});
}

double PlayerWindow::NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

INT_PTR CALLBACK PlayerWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PlayerWindow* self = g_current;
    if (message == playback::WM_PLAYER_DONE && self) {
        self->done_.push_back(lParam);
        if (self->firstDone_ < 0) self->firstDone_ = NowMs();
    }
    if (message == playback::WM_PLAYER_EVENT && self && self->firstReport_ < 0)
        self->firstReport_ = NowMs();
    if (self && self->player_ && self->player_->OnMessage(message, wParam, lParam)) return TRUE;
    if (message == WM_TIMER && self && self->player_) self->player_->OnLevelTimer();
    (void)window;
    return message == WM_INITDIALOG;
}

}  // namespace playertest
