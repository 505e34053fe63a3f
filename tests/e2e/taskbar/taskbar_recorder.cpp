// A taskbar list object that writes down what it is told. The whole-program
// tests register it in the test prefix under the shell's class id
// (CLSID_TaskbarList), so the real program's CoCreateInstance makes this one;
// every call is appended as a line to the file that ORVANTIS_TASKBAR_LOG
// names in the program's environment (nothing is written without it):
//   create N | destroy N                   object N made, its last reference gone
//   N HrInit
//   N ThumbBarAddButtons HWND COUNT [ID MASK ICON FLAGS TIP]...
//   N SetOverlayIcon HWND ICON DESCRIPTION
//   N SetProgressState HWND STATE
//   N OTHER-METHOD HWND                    any other call, which the program never makes
// An ICON is named by the program's icon resource it shows (102 to 107, drawn
// at 16 x 16), "none" for no icon, "unknown" for any other picture.
#include <windows.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/win/support/top_down_dib.h"

namespace {

constexpr wchar_t kLogVariable[] = L"ORVANTIS_TASKBAR_LOG";
constexpr int kFirstIcon = 102;
constexpr int kLastIcon = 107;
constexpr int kIconSize = 16;
constexpr size_t kTipChars = sizeof(THUMBBUTTON::szTip) / sizeof(wchar_t);

LONG g_objects = 0;  // alive, for DllCanUnloadNow
LONG g_serial = 0;

void Append(const std::string& line) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(kLogVariable, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Hex(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

std::string Utf8(const wchar_t* text, size_t limit) {
    if (!text) return "(null)";
    size_t length = 0;
    while (length < limit && text[length]) ++length;
    if (length == 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], size, nullptr, nullptr);
    return out;
}

// The 32-bit top-down pixels of a bitmap; empty when it cannot be read.
std::vector<DWORD> Pixels(HBITMAP bitmap) {
    BITMAP shape = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof shape, &shape)) return {};
    BITMAPINFO info = TopDownDib(shape.bmWidth, shape.bmHeight);
    std::vector<DWORD> pixels(static_cast<size_t>(shape.bmWidth) * shape.bmHeight);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, shape.bmHeight, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != shape.bmHeight) return {};
    return pixels;
}

// An icon's picture: its colour and mask pixels one after the other.
std::vector<DWORD> Picture(HICON icon) {
    ICONINFO parts = {};
    if (!GetIconInfo(icon, &parts)) return {};
    std::vector<DWORD> picture = Pixels(parts.hbmColor);
    const std::vector<DWORD> mask = Pixels(parts.hbmMask);
    if (parts.hbmColor) DeleteObject(parts.hbmColor);
    if (parts.hbmMask) DeleteObject(parts.hbmMask);
    if (picture.empty() || mask.empty()) return {};
    picture.insert(picture.end(), mask.begin(), mask.end());
    return picture;
}

std::string IconName(HICON icon) {
    if (!icon) return "none";
    const std::vector<DWORD> shown = Picture(icon);
    if (shown.empty()) return "unknown";
    for (int id = kFirstIcon; id <= kLastIcon; ++id) {
        HICON own = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                                  IMAGE_ICON, kIconSize, kIconSize, LR_DEFAULTCOLOR));
        if (!own) continue;
        const bool same = Picture(own) == shown;
        DestroyIcon(own);
        if (same) return std::to_string(id);
    }
    return "unknown";
}

class Recorder final : public ITaskbarList3 {
public:
    Recorder() : serial_(InterlockedIncrement(&g_serial)) {
        InterlockedIncrement(&g_objects);
        Append("create " + std::to_string(serial_));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ITaskbarList || iid == IID_ITaskbarList2 ||
            iid == IID_ITaskbarList3) {
            *out = static_cast<ITaskbarList3*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            Append("destroy " + std::to_string(serial_));
            InterlockedDecrement(&g_objects);
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE HrInit() override { return Log("HrInit"); }
    HRESULT STDMETHODCALLTYPE AddTab(HWND window) override { return Log("AddTab", window); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND window) override { return Log("DeleteTab", window); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND window) override { return Log("ActivateTab", window); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND window) override { return Log("SetActiveAlt", window); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND window, BOOL) override {
        return Log("MarkFullscreenWindow", window);
    }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG, ULONGLONG) override {
        return Log("SetProgressValue", window);
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG state) override {
        return Log("SetProgressState", window, std::to_string(state));
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND tab, HWND) override { return Log("RegisterTab", tab); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND tab) override { return Log("UnregisterTab", tab); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND tab, HWND) override { return Log("SetTabOrder", tab); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND tab, HWND, DWORD) override {
        return Log("SetTabActive", tab);
    }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND window, UINT count, LPTHUMBBUTTON buttons) override {
        std::string line = std::to_string(count);
        for (UINT i = 0; buttons && i < count; ++i) {
            const THUMBBUTTON& b = buttons[i];
            line += " [" + std::to_string(b.iId) + " " + std::to_string(b.dwMask) + " " +
                    IconName(b.hIcon) + " " + std::to_string(b.dwFlags) + " " +
                    Utf8(b.szTip, kTipChars) + "]";
        }
        return Log("ThumbBarAddButtons", window, line);
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND window, UINT, LPTHUMBBUTTON) override {
        return Log("ThumbBarUpdateButtons", window);
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND window, HIMAGELIST) override {
        return Log("ThumbBarSetImageList", window);
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND window, HICON icon, LPCWSTR description) override {
        return Log("SetOverlayIcon", window, IconName(icon) + " \"" + Utf8(description, MAX_PATH) + "\"");
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND window, LPCWSTR) override {
        return Log("SetThumbnailTooltip", window);
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND window, RECT*) override {
        return Log("SetThumbnailClip", window);
    }

private:
    virtual ~Recorder() = default;

    HRESULT Log(const char* method, HWND window = nullptr, const std::string& rest = "") {
        std::string line = std::to_string(serial_) + " " + method;
        if (window) line += " " + Hex(window);
        if (!rest.empty()) line += " " + rest;
        Append(line);
        return S_OK;
    }

    LONG refs_ = 1;
    const LONG serial_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory: its references do not count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Recorder* recorder = new Recorder;
        const HRESULT result = recorder->QueryInterface(iid, out);
        recorder->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_TaskbarList) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
