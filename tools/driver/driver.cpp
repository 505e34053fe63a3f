// driver.exe: finds and works the windows of another program (see README.md).
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "directory/channel_list_model.h"
#include "mivo/hyperlink_layout.h"
#include "mivo/mivo.h"
#include "tests/win/support/top_down_dib.h"
#include "tools/driver/window_filter.h"

// Runs one command line (argv[1] the command); its exit code.
int Dispatch(int argc, char** argv);

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kDefaultTimeoutMs = 10000;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr size_t kTextSize = 4096;
constexpr char kDialogClass[] = "#32770";
constexpr size_t kMaxNameSize = 4096;
constexpr int kIconSize = 16;
// How far a drawn pixel may be from the icon drawn here, per colour channel:
// both are the same icon drawn by the same system on the same face colour.
constexpr int kPixelTolerance = 8;

struct Options {
    driver::WindowFilter filter;
    int timeoutMs = kDefaultTimeoutMs;
    int answer = 0;  // 0: the box's default button
    std::vector<std::string> positional;
};

int Usage() {
    std::fputs(
        "usage: driver COMMAND [ARGS] [--process TEXT] [--class NAME] [--caption TEXT]\n"
        "                      [--timeout MS] [--answer ID]\n"
        "commands: windows, wait, box, texts HWND, text HWND [ID], click HWND ID,\n"
        "          command HWND ID, close HWND, wait-gone HWND, rows HWND ID,\n"
        "          wtext HWND [ID], dblclick HWND ID ROW, select HWND ID ROW,\n"
        "          key HWND ID VK, meter HWND ID, slider HWND ID [POS], state HWND ID,\n"
        "          rect HWND [ID], post HWND MSG WPARAM LPARAM, send HWND MSG WPARAM LPARAM,\n"
        "          tap HWND ID, syskey HWND VK, child HWND CLASS, menu HWND KEY,\n"
        "          playing HWND ID, resize HWND WIDTH HEIGHT, place HWND [ID],\n"
        "          shows HWND ID ICON..., link HWND, settext HWND ID TEXT, items HWND ID, serve\n",
        stderr);
    return kUsage;
}

bool ParseArgs(int argc, char** argv, Options& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string number;
        if (arg == "--process") {
            if (!value(options.filter.process)) return false;
        } else if (arg == "--class") {
            if (!value(options.filter.cls)) return false;
        } else if (arg == "--caption") {
            if (!value(options.filter.caption)) return false;
            options.filter.hasCaption = true;
        } else if (arg == "--timeout") {
            if (!value(number)) return false;
            options.timeoutMs = std::atoi(number.c_str());
        } else if (arg == "--answer") {
            if (!value(number)) return false;
            options.answer = std::atoi(number.c_str());
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            options.positional.push_back(arg);
        }
    }
    return true;
}

std::string WindowText(HWND window) {
    char text[kTextSize] = {};
    // WM_GETTEXT rather than GetWindowText: the latter does not ask controls
    // of another process for their text.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    text[sizeof text - 1] = '\0';
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string ImagePath(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return "";
    char path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    if (!QueryFullProcessImageNameA(process, 0, path, &size)) path[0] = '\0';
    CloseHandle(process);
    return path;
}

struct Search {
    const driver::WindowFilter* filter;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    if (driver::Matches(*search->filter, ImagePath(window), ClassOf(window), WindowText(window)))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindWindows(const driver::WindowFilter& filter) {
    Search search{&filter, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <typename Condition>
bool PollUntil(int timeoutMs, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void PrintHandle(HWND window) {
    std::printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
}

bool HandleArg(const Options& options, size_t index, HWND& window) {
    unsigned long long value = 0;
    if (options.positional.size() <= index ||
        !driver::ParseHandle(options.positional[index], value))
        return false;
    window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    return true;
}

bool IdArg(const Options& options, size_t index, int& id) {
    if (options.positional.size() <= index) return false;
    char* end = nullptr;
    id = static_cast<int>(std::strtol(options.positional[index].c_str(), &end, 0));
    return end && *end == '\0';
}

struct Children {
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    reinterpret_cast<Children*>(param)->windows.push_back(child);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
    Children children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children.windows;
}

// A message box: a dialog whose children are statics (icon, text) and buttons.
bool IsMessageBox(HWND window, std::string& text, HWND& defaultButton) {
    if (ClassOf(window) != kDialogClass) return false;
    text.clear();
    defaultButton = nullptr;
    int buttons = 0;
    for (HWND child : ChildrenOf(window)) {
        const std::string cls = ClassOf(child);
        if (lstrcmpiA(cls.c_str(), "Static") == 0) {
            const std::string childText = WindowText(child);
            if (childText.size() > text.size()) text = childText;
        } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
            if (!IsWindowVisible(child)) continue;
            ++buttons;
            if (!defaultButton || GetDlgCtrlID(child) == IDOK) defaultButton = child;
        } else {
            return false;
        }
    }
    return buttons > 0 && !text.empty();
}

int CommandWindows(const Options& options) {
    for (HWND window : FindWindows(options.filter)) {
        std::printf("0x%llx\t%s\t%s\n",
                    static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                    ClassOf(window).c_str(), driver::Escape(WindowText(window)).c_str());
    }
    return kOk;
}

int CommandWait(const Options& options) {
    HWND found = nullptr;
    const bool ok = PollUntil(options.timeoutMs, [&] {
        const auto windows = FindWindows(options.filter);
        if (windows.empty()) return false;
        found = windows.front();
        return true;
    });
    if (!ok) {
        std::fputs("driver: no such window\n", stderr);
        return kNotFound;
    }
    PrintHandle(found);
    return kOk;
}

int CommandBox(Options options) {
    options.filter.cls = kDialogClass;
    HWND box = nullptr;
    HWND button = nullptr;
    std::string text;
    const bool ok = PollUntil(options.timeoutMs, [&] {
        for (HWND window : FindWindows(options.filter)) {
            if (IsMessageBox(window, text, button)) {
                box = window;
                return true;
            }
        }
        return false;
    });
    if (!ok) {
        std::fputs("driver: no message box\n", stderr);
        return kNotFound;
    }
    std::printf("%s\n%s\n", driver::Escape(WindowText(box)).c_str(),
                driver::Escape(text).c_str());
    std::fflush(stdout);
    if (options.answer != 0) button = GetDlgItem(box, options.answer);
    if (!button) {
        std::fputs("driver: the box has no such button\n", stderr);
        return kNotFound;
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return kOk;
}

int CommandTexts(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window)) return Usage();
    if (!IsWindow(window)) return kNotFound;
    std::printf("%s\n", driver::Escape(WindowText(window)).c_str());
    for (HWND child : ChildrenOf(window)) {
        if (GetParent(child) != window) continue;
        std::printf("%d\t%s\t%s\n", GetDlgCtrlID(child), ClassOf(child).c_str(),
                    driver::Escape(WindowText(child)).c_str());
    }
    return kOk;
}

int CommandText(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window)) return Usage();
    int id = 0;
    if (options.positional.size() > 1) {
        if (!IdArg(options, 1, id)) return Usage();
        window = GetDlgItem(window, id);
    }
    if (!window || !IsWindow(window)) return kNotFound;
    std::printf("%s\n", driver::Escape(WindowText(window)).c_str());
    return kOk;
}

int CommandClick(const Options& options) {
    HWND window = nullptr;
    int id = 0;
    if (!HandleArg(options, 0, window) || !IdArg(options, 1, id)) return Usage();
    HWND button = GetDlgItem(window, id);
    if (!button) return kNotFound;
    PostMessageA(button, BM_CLICK, 0, 0);
    return kOk;
}

int CommandCommand(const Options& options) {
    HWND window = nullptr;
    int id = 0;
    if (!HandleArg(options, 0, window) || !IdArg(options, 1, id)) return Usage();
    if (!IsWindow(window)) return kNotFound;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return kOk;
}

int CommandClose(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window)) return Usage();
    if (!IsWindow(window)) return kNotFound;
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return kOk;
}

// Reads a zero-terminated string of at most kMaxNameSize bytes at address in
// another process.
bool ReadRemoteString(HANDLE process, UINT_PTR address, std::string& out) {
    out.clear();
    char piece[64];
    while (out.size() < kMaxNameSize) {
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address + out.size()), piece,
                               sizeof piece, &read) ||
            read == 0) {
            // The last page may end inside the piece: fall back to single bytes.
            if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address + out.size()), piece,
                                   1, &read) ||
                read == 0)
                return false;
        }
        for (SIZE_T i = 0; i < read; ++i) {
            if (piece[i] == '\0') return true;
            out += piece[i];
        }
    }
    return false;
}

// The station list box keeps no texts: each row's item data is the address of
// the program's station record. Those are read from the program's memory, so
// what is printed is what the rows draw. Same architecture as the program only.
// Calls row(index, record, name) for each row; false when one is unreadable.
template <typename Row>
int ReadStationRows(const Options& options, bool printCounts, Row row) {
    HWND window = nullptr;
    int id = 0;
    if (!HandleArg(options, 0, window) || !IdArg(options, 1, id)) return Usage();
    HWND box = GetDlgItem(window, id);
    if (!box) return kNotFound;
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) {
        std::fputs("driver: cannot read the program's memory\n", stderr);
        return kNotFound;
    }
    const LRESULT count = SendMessageA(box, LB_GETCOUNT, 0, 0);
    const LRESULT selected = SendMessageA(box, LB_GETCURSEL, 0, 0);
    if (printCounts)
        std::printf("count %ld\nselected %ld\n", static_cast<long>(count), static_cast<long>(selected));
    int result = kOk;
    for (LRESULT index = 0; index < count; ++index) {
        const auto address =
            static_cast<UINT_PTR>(SendMessageA(box, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
        ChannelEntry entry;
        SIZE_T read = 0;
        std::string name;
        if (!address ||
            !ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), &entry, sizeof entry,
                               &read) ||
            read != sizeof entry ||
            (entry.name && !ReadRemoteString(process, reinterpret_cast<UINT_PTR>(entry.name), name))) {
            std::fprintf(stderr, "driver: row %ld holds no readable station\n", static_cast<long>(index));
            result = kNotFound;
            break;
        }
        row(static_cast<long>(index), entry, name);
    }
    CloseHandle(process);
    return result;
}

int CommandRows(const Options& options) {
    return ReadStationRows(options, true, [](long index, const ChannelEntry& entry, const std::string& name) {
        std::printf("%ld\t%d\t%d\t%s\n", index, entry.id, entry.serverCount,
                    driver::Escape(name).c_str());
    });
}

// The rows whose station is marked as the one playing, one per line.
int CommandPlaying(const Options& options) {
    return ReadStationRows(options, false, [](long index, const ChannelEntry& entry, const std::string&) {
        if (entry.playing) std::printf("%ld\n", index);
    });
}

int CommandWaitGone(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window)) return Usage();
    if (!PollUntil(options.timeoutMs, [&] { return !IsWindow(window); })) {
        std::fputs("driver: the window is still there\n", stderr);
        return kNotFound;
    }
    return kOk;
}

// The window itself for ID 0, else its control ID.
HWND Target(HWND window, int id) { return id == 0 ? window : GetDlgItem(window, id); }

bool NumberArg(const Options& options, size_t index, long long& value) {
    if (options.positional.size() <= index) return false;
    char* end = nullptr;
    value = std::strtoll(options.positional[index].c_str(), &end, 0);
    return end && *end == '\0';
}

// Both the window and, where given, its control.
bool WindowAndControl(const Options& options, HWND& window, HWND& control, size_t need = 1) {
    int id = 0;
    if (!HandleArg(options, 0, window)) return false;
    if (options.positional.size() > 1 && !IdArg(options, 1, id)) return false;
    if (options.positional.size() < need) return false;
    control = Target(window, id);
    return true;
}

// The text as UTF-8, read with the wide text call.
int CommandWideText(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control)) return Usage();
    if (!control || !IsWindow(control)) return kNotFound;
    wchar_t text[kTextSize] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, kTextSize, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    text[kTextSize - 1] = L'\0';
    char utf8[kTextSize * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("%s\n", driver::Escape(utf8).c_str());
    return kOk;
}

// A double click on a row of a list box, as the mouse makes it: the row's
// middle, down, up, double click, up.
int CommandDoubleClick(const Options& options) {
    HWND window = nullptr, box = nullptr;
    long long row = 0;
    if (!WindowAndControl(options, window, box, 3) || !NumberArg(options, 2, row)) return Usage();
    if (!box) return kNotFound;
    const LRESULT top = SendMessageA(box, LB_GETTOPINDEX, 0, 0);
    const LRESULT height = SendMessageA(box, LB_GETITEMHEIGHT, 0, 0);
    if (row < top || height <= 0) {
        SendMessageA(box, LB_SETTOPINDEX, static_cast<WPARAM>(row), 0);
    }
    const LRESULT first = SendMessageA(box, LB_GETTOPINDEX, 0, 0);
    const LPARAM at = MAKELPARAM(10, static_cast<int>((row - first) * height + height / 2));
    PostMessageA(box, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(box, WM_LBUTTONUP, 0, at);
    PostMessageA(box, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(box, WM_LBUTTONUP, 0, at);
    return kOk;
}

int CommandSelect(const Options& options) {
    HWND window = nullptr, box = nullptr;
    long long row = 0;
    if (!WindowAndControl(options, window, box, 3) || !NumberArg(options, 2, row)) return Usage();
    if (!box) return kNotFound;
    SendMessageA(box, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    return kOk;
}

// A key pressed and released on a control (ID 0: the window), as the
// keyboard delivers it to the focus.
int CommandKey(const Options& options) {
    HWND window = nullptr, control = nullptr;
    long long key = 0;
    if (!WindowAndControl(options, window, control, 3) || !NumberArg(options, 2, key)) return Usage();
    if (!control) return kNotFound;
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageA(control, WM_KEYDOWN, static_cast<WPARAM>(key), 1 | (scan << 16));
    PostMessageA(control, WM_KEYUP, static_cast<WPARAM>(key), 1 | (scan << 16) | 0xC0000000);
    return kOk;
}

int CommandMeter(const Options& options) {
    HWND window = nullptr, meter = nullptr;
    if (!WindowAndControl(options, window, meter, 2)) return Usage();
    if (!meter) return kNotFound;
    std::printf("%ld\n", static_cast<long>(SendMessageA(meter, PBM_GETPOS, 0, 0)));
    return kOk;
}

// A slider's position; with POS it is moved there and its window told, as a
// drag that ends there would.
int CommandSlider(const Options& options) {
    HWND window = nullptr, slider = nullptr;
    if (!WindowAndControl(options, window, slider, 2)) return Usage();
    if (!slider) return kNotFound;
    long long position = 0;
    if (options.positional.size() > 2) {
        if (!NumberArg(options, 2, position)) return Usage();
        SendMessageA(slider, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
        SendMessageA(GetParent(slider), WM_HSCROLL,
                     MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(position)),
                     reinterpret_cast<LPARAM>(slider));
        SendMessageA(GetParent(slider), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(slider));
    }
    std::printf("%ld\n", static_cast<long>(SendMessageA(slider, TBM_GETPOS, 0, 0)));
    return kOk;
}

int CommandState(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control)) return Usage();
    if (!control || !IsWindow(control)) return kNotFound;
    std::printf("visible %d enabled %d\n", IsWindowVisible(control) ? 1 : 0,
                IsWindowEnabled(control) ? 1 : 0);
    return kOk;
}

// Screen rectangle: left top right bottom.
int CommandRect(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control)) return Usage();
    RECT r = {};
    if (!control || !GetWindowRect(control, &r)) return kNotFound;
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return kOk;
}

// A message number, or "@NAME" for the message registered under NAME (the
// shell's "TaskbarButtonCreated", say).
bool MessageArg(const Options& options, size_t index, UINT& message) {
    long long number = 0;
    if (options.positional.size() > index && options.positional[index].rfind('@', 0) == 0) {
        message = RegisterWindowMessageA(options.positional[index].c_str() + 1);
        return message != 0;
    }
    if (!NumberArg(options, index, number)) return false;
    message = static_cast<UINT>(number);
    return true;
}

bool MessageArgs(const Options& options, HWND& window, UINT& message, WPARAM& wParam, LPARAM& lParam) {
    long long w = 0, l = 0;
    if (!HandleArg(options, 0, window) || !MessageArg(options, 1, message) || !NumberArg(options, 2, w) ||
        !NumberArg(options, 3, l))
        return false;
    wParam = static_cast<WPARAM>(w);
    lParam = static_cast<LPARAM>(l);
    return true;
}

int CommandPost(const Options& options) {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!MessageArgs(options, window, message, wParam, lParam)) return Usage();
    return PostMessageA(window, message, wParam, lParam) ? kOk : kNotFound;
}

// Sends and waits at most the time-out: an answer within it shows the
// window is responsive. Prints the result.
int CommandSend(const Options& options) {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!MessageArgs(options, window, message, wParam, lParam)) return Usage();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                             static_cast<UINT>(options.timeoutMs), &result)) {
        std::fputs("driver: no answer\n", stderr);
        return kNotFound;
    }
    std::printf("%lld\n", static_cast<long long>(result));
    return kOk;
}

// A left click in the middle of a control, as the mouse makes it.
int CommandTap(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control, 2)) return Usage();
    RECT r = {};
    if (!control || !GetClientRect(control, &r)) return kNotFound;
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(control, WM_LBUTTONUP, 0, at);
    return kOk;
}

// A key pressed with Alt held (Alt+F4 say), as the system delivers it.
int CommandSysKey(const Options& options) {
    HWND window = nullptr;
    long long key = 0;
    if (!HandleArg(options, 0, window) || !NumberArg(options, 1, key)) return Usage();
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    constexpr LPARAM kAltDown = 1 << 29;
    PostMessageA(window, WM_SYSKEYDOWN, static_cast<WPARAM>(key), 1 | (scan << 16) | kAltDown);
    PostMessageA(window, WM_SYSKEYUP, static_cast<WPARAM>(key),
                 1 | (scan << 16) | kAltDown | 0xC0000000);
    return kOk;
}

struct ClassSearch {
    std::string cls;
    HWND found = nullptr;
};

BOOL CALLBACK FindChildOfClass(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ClassSearch*>(param);
    if (ClassOf(child) != search->cls) return TRUE;
    search->found = child;
    return FALSE;
}

// The first child window of a class (controls without an id, say).
int CommandChild(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window) || options.positional.size() < 2) return Usage();
    ClassSearch search{options.positional[1], nullptr};
    EnumChildWindows(window, FindChildOfClass, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return kNotFound;
    PrintHandle(search.found);
    return kOk;
}

// Opens the menu whose mnemonic is KEY (a letter), as Alt+KEY does.
int CommandMenu(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window) || options.positional.size() < 2 ||
        options.positional[1].size() != 1)
        return Usage();
    const auto key = static_cast<unsigned char>(options.positional[1][0]);
    PostMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, key);
    return kOk;
}

// Gives the window a new outer size, as a drag of its frame would; prints its
// client size afterwards.
int CommandResize(const Options& options) {
    HWND window = nullptr;
    long long width = 0, height = 0;
    if (!HandleArg(options, 0, window) || !NumberArg(options, 1, width) || !NumberArg(options, 2, height))
        return Usage();
    if (!IsWindow(window)) return kNotFound;
    SetWindowPos(window, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client = {};
    GetClientRect(window, &client);
    std::printf("%ld %ld\n", client.right, client.bottom);
    return kOk;
}

// A control's rectangle in its window's client coordinates (ID 0: the
// client area itself): left top right bottom.
int CommandPlace(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control)) return Usage();
    RECT r = {};
    if (!control || !GetWindowRect(control, &r)) return kNotFound;
    if (control == window) {
        GetClientRect(window, &r);
    } else {
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    }
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return kOk;
}

// 32-bit pixels (0x00RRGGBB) of a bitmap, top row first.
std::vector<DWORD> PixelsOf(HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFO info = TopDownDib(width, height);
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    if (GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) != height) return {};
    for (DWORD& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

// The pixels of a picture of width x height that draw(dc) paints.
template <typename Draw>
std::vector<DWORD> Painted(int width, int height, Draw draw) {
    if (width <= 0 || height <= 0) return {};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory, screen);
    SelectObject(memory, old);
    std::vector<DWORD> pixels = PixelsOf(memory, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// What the screen shows in a rectangle.
std::vector<DWORD> ScreenPixels(const RECT& r) {
    return Painted(r.right - r.left, r.bottom - r.top, [&](HDC memory, HDC screen) {
        BitBlt(memory, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
    });
}

// The colour most of the pixels have: a control's face.
DWORD MostCommon(const std::vector<DWORD>& pixels) {
    std::map<DWORD, size_t> counts;
    for (DWORD p : pixels) ++counts[p];
    DWORD best = 0;
    size_t most = 0;
    for (const auto& [colour, count] : counts) {
        if (count > most) {
            best = colour;
            most = count;
        }
    }
    return best;
}

// Icon resource id of module drawn at 16 x 16 on a face of that colour
// (0x00RRGGBB).
std::vector<DWORD> DrawnIcon(HMODULE module, int id, DWORD face) {
    HICON icon = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, kIconSize, kIconSize, LR_DEFAULTCOLOR));
    if (!icon) return {};
    std::vector<DWORD> pixels = Painted(kIconSize, kIconSize, [&](HDC memory, HDC) {
        RECT all = {0, 0, kIconSize, kIconSize};
        HBRUSH brush = CreateSolidBrush(RGB((face >> 16) & 0xFF, (face >> 8) & 0xFF, face & 0xFF));
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
    });
    DestroyIcon(icon);
    return pixels;
}

bool Near(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int x = static_cast<int>((a >> shift) & 0xFF), y = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(x - y) > kPixelTolerance) return false;
    }
    return true;
}

// The icon's picture somewhere in the shot (width columns).
bool Contains(const std::vector<DWORD>& shot, int width, const std::vector<DWORD>& icon) {
    const int height = width > 0 ? static_cast<int>(shot.size()) / width : 0;
    for (int top = 0; top + kIconSize <= height; ++top) {
        for (int left = 0; left + kIconSize <= width; ++left) {
            bool all = true;
            for (int y = 0; all && y < kIconSize; ++y)
                for (int x = 0; all && x < kIconSize; ++x)
                    all = Near(shot[static_cast<size_t>(top + y) * width + left + x],
                               icon[static_cast<size_t>(y) * kIconSize + x]);
            if (all) return true;
        }
    }
    return false;
}

// Which of the program's icon resources a control shows on the screen: each
// one named is drawn here from the program's file, on the control's face
// colour, and looked for in the control's pixels. Prints the first found, or
// "none".
int CommandShows(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control, 3)) return Usage();
    RECT r = {};
    if (!control || !GetWindowRect(control, &r)) return kNotFound;
    const std::vector<DWORD> shot = ScreenPixels(r);
    HMODULE program = LoadLibraryExA(ImagePath(window).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (shot.empty() || !program) {
        if (program) FreeLibrary(program);
        std::fputs("driver: cannot read the control or the program's icons\n", stderr);
        return kNotFound;
    }
    std::string found = "none";
    for (size_t i = 2; i < options.positional.size() && found == "none"; ++i) {
        int id = 0;
        if (!IdArg(options, i, id)) continue;
        const std::vector<DWORD> icon = DrawnIcon(program, id, MostCommon(shot));
        if (!icon.empty() && Contains(shot, r.right - r.left, icon)) found = std::to_string(id);
    }
    FreeLibrary(program);
    std::printf("%s\n", found.c_str());
    return kOk;
}

// The hyperlink control of a window (a dialog's web link): its text, address
// and tooltip as the control keeps them, read from the program's memory.
// Same architecture as the program only.
int CommandLink(const Options& options) {
    HWND window = nullptr;
    if (!HandleArg(options, 0, window)) return Usage();
    ClassSearch search{mivo::hyperlink::kClassName, nullptr};
    EnumChildWindows(window, FindChildOfClass, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return kNotFound;
    const auto address =
        static_cast<UINT_PTR>(GetWindowLongPtrA(search.found, mivo::hyperlink::kRecordOffset));
    DWORD pid = 0;
    GetWindowThreadProcessId(search.found, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return kNotFound;
    MIVO_HypCtrlInfo record = {};
    SIZE_T read = 0;
    std::string texts[3];
    const bool ok = address &&
                    ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), &record,
                                      sizeof record, &read) &&
                    read == sizeof record;
    const char* const pointers[3] = {record.text, record.url, record.tooltip};
    bool readable = ok;
    for (int i = 0; readable && i < 3; ++i)
        readable = !pointers[i] ||
                   ReadRemoteString(process, reinterpret_cast<UINT_PTR>(pointers[i]), texts[i]);
    CloseHandle(process);
    if (!readable) {
        std::fputs("driver: the link's record is unreadable\n", stderr);
        return kNotFound;
    }
    for (const std::string& text : texts) std::printf("%s\n", driver::Escape(text).c_str());
    return kOk;
}

// Sets a control's text, as typing it would leave it.
int CommandSetText(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control, 3)) return Usage();
    if (!control) return kNotFound;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(options.positional[2].c_str()),
                        SMTO_ABORTIFHUNG, 2000, &result);
    return result ? kOk : kNotFound;
}

// The number of rows of a list view.
int CommandItems(const Options& options) {
    HWND window = nullptr, control = nullptr;
    if (!WindowAndControl(options, window, control, 2)) return Usage();
    if (!control) return kNotFound;
    std::printf("%ld\n", static_cast<long>(SendMessageA(control, LVM_GETITEMCOUNT, 0, 0)));
    return kOk;
}

// Runs one command per line of standard input (arguments separated by tabs)
// and ends each answer with a line "\x01 EXITCODE", so a test can keep one
// driver running instead of starting one per question.
int CommandServe() {
    char line[kTextSize];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        std::vector<std::string> words = {"driver"};
        size_t start = 0;
        while (start <= text.size()) {
            const size_t tab = text.find('\t', start);
            words.push_back(text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        std::vector<char*> args;
        for (std::string& word : words) args.push_back(&word[0]);
        const int rc = words.size() > 1 && words[1] != "serve"
                           ? Dispatch(static_cast<int>(args.size()), args.data())
                           : kUsage;
        std::printf("\x01 %d\n", rc);
        std::fflush(stdout);
        std::fflush(stderr);
    }
    return kOk;
}

}  // namespace

int Dispatch(int argc, char** argv) {
    if (argc < 2) return Usage();
    Options options;
    if (!ParseArgs(argc, argv, options)) return Usage();
    const std::string command = argv[1];
    if (command == "windows") return CommandWindows(options);
    if (command == "wait") return CommandWait(options);
    if (command == "box") return CommandBox(options);
    if (command == "texts") return CommandTexts(options);
    if (command == "text") return CommandText(options);
    if (command == "click") return CommandClick(options);
    if (command == "command") return CommandCommand(options);
    if (command == "close") return CommandClose(options);
    if (command == "wait-gone") return CommandWaitGone(options);
    if (command == "rows") return CommandRows(options);
    if (command == "playing") return CommandPlaying(options);
    if (command == "wtext") return CommandWideText(options);
    if (command == "dblclick") return CommandDoubleClick(options);
    if (command == "select") return CommandSelect(options);
    if (command == "key") return CommandKey(options);
    if (command == "meter") return CommandMeter(options);
    if (command == "slider") return CommandSlider(options);
    if (command == "state") return CommandState(options);
    if (command == "rect") return CommandRect(options);
    if (command == "post") return CommandPost(options);
    if (command == "send") return CommandSend(options);
    if (command == "tap") return CommandTap(options);
    if (command == "syskey") return CommandSysKey(options);
    if (command == "child") return CommandChild(options);
    if (command == "menu") return CommandMenu(options);
    if (command == "resize") return CommandResize(options);
    if (command == "place") return CommandPlace(options);
    if (command == "shows") return CommandShows(options);
    if (command == "link") return CommandLink(options);
    if (command == "settext") return CommandSetText(options);
    if (command == "items") return CommandItems(options);
    if (command == "serve") return CommandServe();
    return Usage();
}

int main(int argc, char** argv) { return Dispatch(argc, argv); }
