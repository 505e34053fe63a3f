#include "box_watcher.h"

#include <chrono>

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
    if (pid == ctx->process && lstrcmpA(cls, kDialogClass) == 0 && IsWindowVisible(window))
        ctx->found.push_back(window);
    return TRUE;
}

}  // namespace

std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

BoxWatcher::BoxWatcher() : thread_([this] { Run(); }) {}

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
    SeenBox seen{caption, BoxText(box)};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(seen);
    }
    // OK (or the only button) ends the box as the user would.
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    // Wait for it to go, so one box is never recorded twice.
    for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i)
        std::this_thread::sleep_for(kPollInterval);
}

}  // namespace testsupport
