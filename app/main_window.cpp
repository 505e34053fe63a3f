#include "app/main_window.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <wtsapi32.h>

#include <cstdio>
#include <memory>

#include "app/app_state.h"
#include "app/res/resource.h"
#include "app/taskbar.h"
#include "app/volume_lock.h"
#include "engine/include/bass.h"
#include "common/menu.h"
#include "common/text.h"
#include "directory/station_directory.h"
#include "mivo.h"
#include "playback/spectrum_analyzer.h"
#include "playback/stream_player.h"
#include "settings/config_manager.h"
#include "settings/language_manager.h"
#include "settings/string_ids.h"

namespace {

constexpr int kPictureSize = 48;
constexpr int kSmallIconSize = 16;
constexpr UINT_PTR kLevelTimerId = playback::kLevelTimerId;
// The analyzer is this wide whatever the window's size; it draws into the
// width of the information panel and is clipped by the window.
constexpr int kSpectrumWidth = 5888;
// How long the shutdown waits for play threads still leaving.
constexpr DWORD kThreadExitWaitMs = 1000;
constexpr COLORREF kLabelColour = 0x595959;
constexpr COLORREF kMeterColour = 0x595959;
constexpr int kEngineDefaultDevice = -1;
constexpr DWORD kEngineFrequency = 44100;
constexpr DWORD kEnginePlaylistsOn = 1;
constexpr DWORD kEngineNoPrebuffer = 0;
constexpr char kCantSetMenuText[] = "CAN'T SET MENU!\n\nAbort";
// The About box labels these values ("Copyright", "Idea", "Programmer"), and
// its value fields hold one short line each.
constexpr char kRightsNotice[] = "\xA9 2017 TAVIN, all rights reserved";
constexpr char kIdeaCredit[] = "TAVIN";
constexpr char kProgrammerCredit[] = "TAVIN";

// How each control follows the window's size (see MIVO_UiResize).
constexpr UINT32 kMoveX = MIVO_RESIZE_MOVE_X;
constexpr UINT32 kMoveY = MIVO_RESIZE_MOVE_Y;
constexpr UINT32 kGrowX = MIVO_RESIZE_GROW_X;
constexpr UINT32 kGrowY = MIVO_RESIZE_GROW_Y;
constexpr MIVO_ResizeItem kLayout[] = {
    {IDC_BAND, kGrowY},
    {IDC_BAND_LINE, kGrowY},
    {IDC_STATIONS, kGrowX | kGrowY},
    {IDC_LEFT_CAPTION, kMoveX},
    {IDC_LEFT_METER, kMoveX | kGrowY},
    {IDC_RIGHT_CAPTION, kMoveX},
    {IDC_RIGHT_METER, kMoveX | kGrowY},
    {IDC_PLAY, kMoveX | kMoveY},
    {IDC_INFO_GROUP, kMoveY | kGrowX},
    {IDC_NAME_LABEL, kMoveY},
    {IDC_TITLE_LABEL, kMoveY},
    {IDC_BITRATE_LABEL, kMoveY},
    {IDC_NAME, kMoveY | kGrowX},
    {IDC_TITLE, kMoveY | kGrowX},
    {IDC_BITRATE, kMoveY | kGrowX},
    {IDC_VOLUME_LABEL, kMoveY},
    {IDC_BALANCE_LABEL, kMoveY},
    {IDC_VOLUME_VALUE, kMoveX | kMoveY},
    {IDC_BALANCE_VALUE, kMoveX | kMoveY},
    {IDC_VOLUME, kMoveY | kGrowX},
    {IDC_BALANCE, kMoveY | kGrowX},
};
constexpr int kLayoutCount = sizeof kLayout / sizeof kLayout[0];
constexpr int kWithSizeGrip = 1;

struct TextOfControl {
    int control;
    int text;
};
constexpr TextOfControl kControlTexts[] = {
    {IDC_INFO_GROUP, IDS_INFO_GROUP},       {IDC_NAME_LABEL, IDS_NAME_LABEL},
    {IDC_TITLE_LABEL, IDS_TITLE_LABEL},     {IDC_BITRATE_LABEL, IDS_BITRATE_LABEL},
    {IDC_VOLUME_LABEL, IDS_VOLUME_LABEL},   {IDC_VOLUME_VALUE, IDS_VOLUME_VALUE},
    {IDC_BALANCE_LABEL, IDS_BALANCE_LABEL}, {IDC_BALANCE_VALUE, IDS_BALANCE_VALUE},
};
constexpr int kEmptiedControls[] = {IDC_NAME, IDC_TITLE, IDC_BITRATE};
constexpr int kRepaintedOnSize[] = {IDC_BAND, IDC_BAND_LINE, IDC_PICTURE};
// Thumbnail buttons of the taskbar button.
constexpr WORD kThumbPlay = 0;
constexpr WORD kThumbStop = 1;
constexpr int kGreyLabels[] = {IDC_NAME_LABEL, IDC_TITLE_LABEL, IDC_BITRATE_LABEL,
                               IDC_VOLUME_LABEL, IDC_BALANCE_LABEL};

// The directory takes its texts from the language manager, which the
// shutdown releases before the list: after that it answers nothing.
class LanguageTexts : public TextSource {
public:
    const char* GetString(int id) const override {
        return g_language ? g_language->GetString(id) : nullptr;
    }
};

// The window's own state; one main window per process.
struct MainWindowState {
    HWND window = nullptr;
    HMENU menu = nullptr;
    CConfigManager* config = nullptr;
    LanguageTexts texts;
    StationDirectory directory;
    std::unique_ptr<playback::StreamPlayer> player;
    HWND spectrum = nullptr;
    bool engineReady = false;
    bool sessionNotifications = false;
    bool shutDown = false;
    HICON picture = nullptr;  // 101 at 48 x 48
    HICON playIcon = nullptr;
    HICON stopIcon = nullptr;
    HICON thumbPlayIcon = nullptr;
    HICON thumbStopIcon = nullptr;
    HICON playingOverlay = nullptr;
    HICON connectingOverlay = nullptr;
};
MainWindowState g_main;

HICON LoadIconSized(int id, int size) {
    return static_cast<HICON>(
        LoadImageA(g_instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

const char* Text(int id) { return TextOrEmpty(g_language ? g_language->GetString(id) : nullptr); }

void SetCheck(int command, bool on) { SetMenuCheck(g_main.menu, command, on); }

void SetEnabled(int command, bool on) { SetMenuEnabled(g_main.menu, command, on); }

void ShowMenuState() {
    SetEnabled(IDM_MUTE_ON_LOCK, g_main.sessionNotifications);
    SetCheck(IDM_MUTE_ON_LOCK, g_options.muteOnLock);
    SetCheck(IDM_MUTE_EFFECT, g_options.muteOnLockEffect);
    SetEnabled(IDM_MUTE_EFFECT, g_options.muteOnLock);
    SetCheck(IDM_SHOW_SPECTRUM, g_options.showSpectrum);
    SetCheck(IDM_CENTER_SPECTRUM, g_options.centerSpectrum);
    SetCheck(IDM_HIDE_SPECTRUM_ON_HOVER, g_options.hideSpectrumOnHover);
}

// Failures during initialisation end the dialog; the dialog manager destroys
// it as soon as initialisation returns, and the shutdown runs from there.
BOOL AbortInit(HWND window) {
    EndDialog(window, kMainDialogResult);
    return FALSE;
}

const wchar_t* WideText(int id) {
    const wchar_t* text = g_language ? g_language->GetWideString(id) : nullptr;
    return text ? text : L"";
}

// The panel's top-left corner in client coordinates and its size.
RECT InfoPanel(HWND window) {
    RECT panel = {};
    GetWindowRect(GetDlgItem(window, IDC_INFO_GROUP), &panel);
    POINT corner = {panel.left, panel.top};
    ScreenToClient(window, &corner);
    return RECT{corner.x, corner.y, corner.x + (panel.right - panel.left),
                corner.y + (panel.bottom - panel.top)};
}

void CreateSpectrum(HWND window) {
    const RECT panel = InfoPanel(window);
    const int width = panel.right - panel.left;
    g_main.spectrum = spectrum::Create(g_instance, window, panel.left, panel.top, kSpectrumWidth,
                                       panel.bottom - panel.top, false);
    spectrum::SetBarArea(width);
    spectrum::SetBarCount(width);
    spectrum::SetCentred(g_options.centerSpectrum);
    spectrum::SetHideOnHover(g_options.hideSpectrumOnHover);
    spectrum::Show(window, g_options.showSpectrum);
    spectrum::DrawIdle();
}

// The spectrum follows the panel's corner and width; its own size stays.
void LayOutSpectrum(HWND window) {
    if (!g_main.spectrum) return;
    const RECT panel = InfoPanel(window);
    const int width = panel.right - panel.left;
    spectrum::SetBarArea(width);
    spectrum::SetBarCount(width);
    RECT own = {};
    GetWindowRect(g_main.spectrum, &own);
    MoveWindow(g_main.spectrum, panel.left, panel.top, own.right - own.left, own.bottom - own.top,
               TRUE);
}

void CreatePlayer(HWND window) {
    playback::PlayerHost host;
    host.window = window;
    host.listBox = GetDlgItem(window, IDC_STATIONS);
    host.stations = []() -> ChannelListModel* { return g_main.directory.list; };
    host.text = Text;
    host.wideText = WideText;
    host.setTitle = SetMainTitle;
    host.caption = g_plainCaption;
    host.playIcon = g_main.playIcon;
    host.stopIcon = g_main.stopIcon;
    host.options = &g_options;
    host.taskbar = [window](playback::TaskbarState state) { taskbar::SetState(window, state); };
    g_main.player = std::make_unique<playback::StreamPlayer>(host);
}

void PrepareMeter(HWND window, int id) {
    HWND meter = GetDlgItem(window, id);
    SetWindowTheme(meter, L" ", L" ");  // a plain bar: the visual style ignores its colour
    SetWindowLongPtrA(meter, GWL_EXSTYLE, WS_EX_NOPARENTNOTIFY);
    SendMessageA(meter, PBM_SETBARCOLOR, 0, kMeterColour);
}

BOOL OnInitDialog(HWND window) {
    g_main.window = window;
    g_main.picture = LoadIconSized(IDI_APP, kPictureSize);

    HMENU menu = g_language->LoadMenu(IDM_MAIN);
    if (!menu) {
        MessageBoxA(nullptr, kCantSetMenuText, g_plainCaption, MB_ICONERROR);
        return AbortInit(window);
    }
    HMENU placeholder = GetMenu(window);
    SetMenu(window, menu);
    if (placeholder) DestroyMenu(placeholder);
    g_main.menu = menu;

    g_main.config = new CConfigManager(g_settingsPath);
    settings::LoadOptions(g_main.config, g_options);

    g_main.playIcon = LoadIconSized(IDI_PLAY, kSmallIconSize);
    g_main.stopIcon = LoadIconSized(IDI_STOP, kSmallIconSize);
    SendDlgItemMessageA(window, IDC_PLAY, BM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(g_main.playIcon));
    g_main.thumbPlayIcon = LoadIconSized(IDI_THUMB_PLAY, kSmallIconSize);
    g_main.thumbStopIcon = LoadIconSized(IDI_THUMB_STOP, kSmallIconSize);
    g_main.playingOverlay = LoadIconSized(IDI_OVERLAY_PLAYING, kSmallIconSize);
    g_main.connectingOverlay = LoadIconSized(IDI_OVERLAY_CONNECTING, kSmallIconSize);

    MIVO_UiSetFont(window, MIVO_FONT_NORMAL, 1, 0);
    for (const TextOfControl& item : kControlTexts)
        SetDlgItemTextA(window, item.control, Text(item.text));
    for (int id : kEmptiedControls) SetDlgItemTextA(window, id, "");
    MIVO_UiSetFont(GetDlgItem(window, IDC_INFO_GROUP), MIVO_FONT_BOLD, 0, 0);
    CreateSpectrum(window);

    SetClassLongPtrA(window, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_APP))));

    MIVO_UiResize(g_instance, window, 0, kLayoutCount, kLayout, kWithSizeGrip);

    SetMainTitle("");
    g_main.sessionNotifications =
        WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    ShowMenuState();

    app::InitSliders(window, g_options);

    PrepareMeter(window, IDC_LEFT_METER);
    PrepareMeter(window, IDC_RIGHT_METER);

    if (!BASS_Init(kEngineDefaultDevice, kEngineFrequency, 0, window, nullptr)) {
        MessageBoxA(window, Text(IDS_AUDIO_INIT_FAILED), g_plainCaption, MB_ICONERROR);
        return AbortInit(window);
    }
    g_main.engineReady = true;
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, kEnginePlaylistsOn);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, kEngineNoPrebuffer);
    CreatePlayer(window);

    // Nothing plays until the user asks: the list only needs filling.
    const DirectoryHost host{g_instance, &g_main.texts, g_versionedCaption, g_plainCaption};
    if (!OpenStationDirectory(window, host, g_programDir, nullptr, &g_main.directory))
        return AbortInit(window);
    return TRUE;
}

// The orderly shutdown, in this order; objects not created are skipped.
void OnDestroy(HWND window) {
    if (g_main.shutDown) return;
    g_main.shutDown = true;
    if (g_main.player) g_main.player->Stop();
    KillTimer(window, kLevelTimerId);
    // A play thread still connecting is not killed: it was told to stop, and
    // freeing the engine ends a connect it is waiting in.
    if (g_main.engineReady) {
        BASS_Free();
        g_main.engineReady = false;
    }
    if (g_main.player) {
        g_main.player->WaitForThreads(kThreadExitWaitMs);
        g_main.player.reset();
    }
    settings::SaveOptions(g_main.config, g_options);
    ReleaseAndClear(g_main.config);
    ReleaseAndClear(g_language);
    // The list box is still there: its rows are emptied before the stations go.
    CloseStationDirectory(&g_main.directory);
    EndDialog(window, kMainDialogResult);
}

void ShowAbout(HWND window) {
    char version[32] = {};
    std::snprintf(version, sizeof version, "%d.%d.%d", kVersionMajor, kVersionMinor,
                  kVersionPatch);
    MIVO_DlgInfo info = {};
    info.instance = g_instance;
    info.parent = window;
    info.icon = g_main.picture;
    info.name = g_plainCaption;
    info.version = version;
    info.build = kBuildNumber;
    info.rights = kRightsNotice;
    info.ideaCredit = kIdeaCredit;
    info.programmerCredit = kProgrammerCredit;
    info.linkText = Text(IDS_LINK_TEXT);
    info.linkUrl = Text(IDS_LINK_URL);
    info.linkTooltip = Text(IDS_LINK_TOOLTIP);
    MIVO_DlgAbout(&info);
}

void ShowModules(HWND window) {
    MIVO_DlgInfo info = {};
    info.instance = g_instance;
    info.parent = window;
    info.icon = g_main.picture;
    info.name = Text(IDS_MODULES_NAME);
    MIVO_DlgModules(&info);
}

bool Toggle(bool& option, int command) {
    option = !option;
    SetCheck(command, option);
    return option;
}

void StartPlaying() {
    if (g_main.player) g_main.player->Start();
}

void StopPlaying() {
    if (g_main.player) g_main.player->Stop();
}

bool Playing() { return g_main.player && g_main.player->playing(); }

DWORD CurrentStream() { return g_main.player ? g_main.player->stream() : 0; }

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    const WORD notification = HIWORD(wParam);
    if (notification == LBN_DBLCLK && reinterpret_cast<HWND>(lParam) == GetDlgItem(window, IDC_STATIONS)) {
        StartPlaying();  // the start stops what plays first
        return;
    }
    if (notification == THBN_CLICKED) {
        if (LOWORD(wParam) == kThumbPlay) StartPlaying();
        if (LOWORD(wParam) == kThumbStop) StopPlaying();
        return;
    }
    switch (LOWORD(wParam)) {
    case IDC_VOLUME_VALUE:
        if (notification == STN_CLICKED) app::MuteVolume(window, g_options);
        break;
    case IDC_BALANCE_VALUE:
        if (notification == STN_CLICKED) app::CentreBalance(window, g_options);
        break;
    case IDC_PLAY:
        if (Playing())
            StopPlaying();
        else
            StartPlaying();
        break;
    case IDM_EXIT:
        EndDialog(window, kMainDialogResult);
        break;
    case IDM_MUTE_ON_LOCK:
        SetEnabled(IDM_MUTE_EFFECT, Toggle(g_options.muteOnLock, IDM_MUTE_ON_LOCK));
        break;
    case IDM_MUTE_EFFECT:
        Toggle(g_options.muteOnLockEffect, IDM_MUTE_EFFECT);
        break;
    case IDM_SHOW_SPECTRUM:
        spectrum::Show(window, Toggle(g_options.showSpectrum, IDM_SHOW_SPECTRUM));
        break;
    case IDM_CENTER_SPECTRUM:
        spectrum::SetCentred(Toggle(g_options.centerSpectrum, IDM_CENTER_SPECTRUM));
        spectrum::DrawIdle();
        break;
    case IDM_HIDE_SPECTRUM_ON_HOVER:
        spectrum::SetHideOnHover(Toggle(g_options.hideSpectrumOnHover, IDM_HIDE_SPECTRUM_ON_HOVER));
        break;
    case IDM_MODULES:
        ShowModules(window);
        break;
    case IDM_ABOUT:
        ShowAbout(window);
        break;
    default:
        break;
    }
}

void DrawPicture(const DRAWITEMSTRUCT* item) {
    SetBkColor(item->hDC, RGB(255, 255, 255));
    DrawIconEx(item->hDC, 0, 0, g_main.picture, kPictureSize, kPictureSize, 0, nullptr,
               DI_NORMAL);
}

bool IsGreyLabel(HWND control) {
    for (int id : kGreyLabels) {
        if (control == GetDlgItem(g_main.window, id)) return true;
    }
    return false;
}

}  // namespace

void SetMainTitle(const char* text) {
    char title[kCaptionSize] = {};
    if (!text || !*text)
        std::snprintf(title, sizeof title, "%s", g_versionedCaption);
    else
        std::snprintf(title, sizeof title, "%s: %s", g_versionedCaption, text);
    SendMessageA(g_main.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));
}

void OnTaskbarButton(HWND window) {
    taskbar::Look look;
    look.play = g_main.thumbPlayIcon;
    look.stop = g_main.thumbStopIcon;
    look.playTip = WideText(IDS_THUMB_PLAY);
    look.stopTip = WideText(IDS_THUMB_STOP);
    look.playing = g_main.playingOverlay;
    look.connecting = g_main.connectingOverlay;
    taskbar::OnButtonCreated(window, g_osMajor, g_osMinor, look);
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The taskbar's registered message is not a constant: tested before the rest.
    if (message == g_taskbarButtonCreatedMessage && message != 0) {
        OnTaskbarButton(window);
        return FALSE;
    }
    if (g_main.player && g_main.player->OnMessage(message, wParam, lParam)) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_DESTROY:
        OnDestroy(window);
        return FALSE;
    case WM_SIZE:
        // Rows are drawn to the box's width: a new width repaints them all.
        InvalidateRect(GetDlgItem(window, IDC_STATIONS), nullptr, TRUE);
        LayOutSpectrum(window);
        for (int id : kRepaintedOnSize) InvalidateRect(GetDlgItem(window, id), nullptr, FALSE);
        return FALSE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_STATIC && item->CtlID == IDC_PICTURE) DrawPicture(item);
        return FALSE;
    }
    case WM_COMMAND:
        OnCommand(window, wParam, lParam);
        return FALSE;
    case WM_TIMER:
        if (g_main.player) g_main.player->OnLevelTimer();
        return FALSE;
    case WM_HSCROLL:
        if (LOWORD(wParam) <= TB_ENDTRACK) app::ApplySliders(window, g_options, CurrentStream());
        return FALSE;
    case WM_WTSSESSION_CHANGE:
        if (g_main.player)
            app::OnSessionChange(wParam, g_options, CurrentStream(), g_main.player->savedFrequency);
        return FALSE;
    case WM_STATION_ENTER:
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(window, IDC_STATIONS)) StartPlaying();
        return FALSE;
    case WM_SYSCOMMAND:
        // Close box and Alt+F4. Ending the dialog (rather than destroying the
        // window here) lets the modal loop return our result; the dialog
        // manager then destroys the window, which runs the shutdown.
        if (LOWORD(wParam) == SC_CLOSE) {
            EndDialog(window, kMainDialogResult);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORSTATIC:
        if (IsGreyLabel(reinterpret_cast<HWND>(lParam))) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kLabelColour);
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
        }
        return FALSE;
    default:
        return FALSE;
    }
}
