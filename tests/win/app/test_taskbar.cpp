// The taskbar integration against a recording taskbar object: which calls,
// with what, and in which order, for each registration and state.
#include "app/taskbar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every call as a line; counts its references.
class RecordingTaskbar : public ITaskbarList3 {
public:
    explicit RecordingTaskbar(std::vector<std::string>* log) : log_(log) {}
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        Log("Release");
        return --refs;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override { return Log("HrInit"); }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return Log("AddTab"); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return Log("DeleteTab"); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return Log("ActivateTab"); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return Log("SetActiveAlt"); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return Log("Fullscreen"); }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG, ULONGLONG) override {
        return Log("SetProgressValue");
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
        return Log("SetProgressState " + std::to_string(state));
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return Log("RegisterTab"); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return Log("UnregisterTab"); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return Log("SetTabOrder"); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return Log("SetTabActive"); }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT count, LPTHUMBBUTTON buttons) override {
        std::string line = "ThumbBarAddButtons " + std::to_string(count);
        for (UINT i = 0; i < count; ++i) {
            char tip[261] = {};
            WideCharToMultiByte(CP_UTF8, 0, buttons[i].szTip, -1, tip, sizeof tip, nullptr, nullptr);
            line += " [" + std::to_string(buttons[i].iId) + " mask " + std::to_string(buttons[i].dwMask) +
                    " icon " + IconName(buttons[i].hIcon) + " flags " + std::to_string(buttons[i].dwFlags) +
                    " tip " + tip + "]";
        }
        return Log(line);
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Log("ThumbBarUpdateButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override {
        return Log("ThumbBarSetImageList");
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON icon, LPCWSTR description) override {
        return Log("SetOverlayIcon " + IconName(icon) + (description && !*description ? " \"\"" : " ?"));
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return Log("Tooltip"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return Log("Clip"); }

    static std::string IconName(HICON icon) {
        const auto value = reinterpret_cast<UINT_PTR>(icon);
        return value >= 104 && value <= 107 ? std::to_string(value) : (icon ? "?" : "none");
    }

private:
    HRESULT Log(const std::string& line) {
        log_->push_back(line);
        return S_OK;
    }
    std::vector<std::string>* log_;
};

std::vector<std::string> g_log;
std::vector<RecordingTaskbar*> g_made;

HRESULT MakeRecording(ITaskbarList3** object) {
    g_made.push_back(new RecordingTaskbar(&g_log));
    *object = g_made.back();
    return S_OK;
}

// Stand-in icon handles the recorder can name: their resource numbers.
HICON Icon(int id) { return reinterpret_cast<HICON>(static_cast<UINT_PTR>(id)); }

taskbar::Look TestLook(const std::wstring& longTip) {
    taskbar::Look look;
    look.play = Icon(104);
    look.stop = Icon(105);
    look.playing = Icon(106);
    look.connecting = Icon(107);
    look.playTip = L"Play";
    look.stopTip = longTip.c_str();
    return look;
}

TEST(Taskbar, ButtonsStatesAndReplacementInTheirOrder) {
    HWND window = GetDesktopWindow();
    const std::wstring longTip(300, L'x');
    // Windows Vista (6.0): the message is ignored, nothing is made.
    taskbar::OnButtonCreated(window, 6, 0, TestLook(longTip), MakeRecording);
    EXPECT_TRUE(g_made.empty());
    EXPECT_EQ(taskbar::Object(), nullptr);
    taskbar::SetState(window, playback::TaskbarState::Connecting);  // skipped without an object
    EXPECT_TRUE(g_log.empty());

    taskbar::OnButtonCreated(window, 6, 1, TestLook(longTip), MakeRecording);
    ASSERT_EQ(g_made.size(), 1u);
    taskbar::SetState(window, playback::TaskbarState::Idle);
    taskbar::SetState(window, playback::TaskbarState::Connecting);
    taskbar::SetState(window, playback::TaskbarState::Playing);
    const std::string tip259(259, 'x');
    const std::vector<std::string> expected = {
        "HrInit",
        "ThumbBarAddButtons 2 [0 mask 14 icon 104 flags 0 tip Play] [1 mask 14 icon 105 flags 0 tip " +
            tip259 + "]",
        "SetOverlayIcon none \"\"", "SetProgressState 0",    // idle: no overlay, no progress
        "SetOverlayIcon 107 \"\"", "SetProgressState 1",     // connecting: indeterminate
        "SetProgressState 0", "SetOverlayIcon 106 \"\"",     // playing
    };
    EXPECT_EQ(g_log, expected);

    // The shell made a new taskbar: the old object goes, a new one gets the buttons.
    g_log.clear();
    taskbar::OnButtonCreated(window, 10, 0, TestLook(longTip), MakeRecording);
    ASSERT_EQ(g_made.size(), 2u);
    EXPECT_EQ(g_made[0]->refs, 0);
    EXPECT_EQ(taskbar::Object(), g_made[1]);
    ASSERT_EQ(g_log.size(), 3u);
    EXPECT_EQ(g_log[0], "Release");
    EXPECT_EQ(g_log[1], "HrInit");
    EXPECT_EQ(g_log[2].rfind("ThumbBarAddButtons 2 ", 0), 0u);
}

}  // namespace
