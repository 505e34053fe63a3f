#include "box_watcher.h"

#include <chrono>
#include <utility>

namespace testsupport {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr char kDialogClass[] = "#32770";

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") != 0) return TRUE;
    char text[1024] = {};
    GetWindowTextA(child, text, sizeof text);
    auto* out = reinterpret_cast<std::string*>(param);
    if (text[0] != '\0' && std::string(text).size() > out->size()) *out = text;
    return TRUE;
}

struct FindContext {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK FindBoxes(HWND window, LPARAM param) {
    auto* ctx = reinterpret_cast<FindContext*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    // A message box is a dialog with an OK or a Yes button; other dialogs of
    // the code under test (a progress window, say) have neither.
    if (pid == ctx->process && lstrcmpA(cls, kDialogClass) == 0 && IsWindowVisible(window) &&
        (GetDlgItem(window, IDOK) || GetDlgItem(window, IDYES)))
        ctx->found.push_back(window);
    return TRUE;
}

}  // namespace

std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

BoxWatcher::BoxWatcher() : BoxWatcher([](const std::string&, const std::string&) { return IDOK; }) {}

BoxWatcher::BoxWatcher(Chooser chooser)
    : chooser_(std::move(chooser)), thread_([this] { Run(); }) {}

BoxWatcher::~BoxWatcher() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxWatcher::Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

void BoxWatcher::Run() {
    while (!stop_) {
        FindContext ctx{GetCurrentProcessId(), {}};
        EnumWindows(FindBoxes, reinterpret_cast<LPARAM>(&ctx));
        for (HWND box : ctx.found) Visit(box);
        std::this_thread::sleep_for(kPollInterval);
    }
}

void BoxWatcher::Visit(HWND box) {
    char caption[256] = {};
    GetWindowTextA(box, caption, sizeof caption);
    SeenBox seen{caption, BoxText(box), GetDlgItem(box, IDYES) != nullptr};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(seen);
    }
    const int button = chooser_(seen.caption, seen.text);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    // Wait for it to go, so one box is never recorded twice.
    for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i)
        std::this_thread::sleep_for(kPollInterval);
}

}  // namespace testsupport
