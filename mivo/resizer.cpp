// The window resizer (ordinal 12): keeps a window's controls anchored to its
// edges while it is resized, and keeps it from shrinking below its first size.
#include "mivo.h"

#include <new>

#include "ui_geometry.h"

namespace {

constexpr char kResizerProperty[] = "TAVINLibray_UI_ResizerData";
constexpr UINT32 kGripFlags = MIVO_RESIZE_MOVE_X | MIVO_RESIZE_MOVE_Y;
constexpr UINT32 kWindowFlagMask = MIVO_RESIZE_FIX_WIDTH | MIVO_RESIZE_FIX_HEIGHT;

struct ResizeEntry {
    HWND control;
    UINT32 flags;
    RECT first;  // in the window's client coordinates
};

struct ResizerState {
    WNDPROC previous;
    RECT firstClient;
    RECT firstWindow;
    int count;
    UINT32 flags;
    ATOM atom;
    ResizeEntry* entries;
};

ResizerState* StateOf(HWND window, ATOM atom) {
    return static_cast<ResizerState*>(GetPropA(window, MAKEINTATOM(atom)));
}

RECT ClientRectOf(HWND window, HWND control) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void PlaceControls(const ResizerState& state, int width, int height) {
    const int dx = width - (state.firstClient.right - state.firstClient.left);
    const int dy = height - (state.firstClient.bottom - state.firstClient.top);
    constexpr UINT kPlaceFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    HDWP batch = BeginDeferWindowPos(state.count);
    for (int i = 0; i < state.count; ++i) {
        const ResizeEntry& entry = state.entries[i];
        if (entry.control == nullptr) continue;  // a missing control must not spoil the batch
        const mivo::Box first{entry.first.left, entry.first.top, entry.first.right, entry.first.bottom};
        const mivo::Box box = mivo::AnchoredBox(first, entry.flags, dx, dy);
        const int w = box.right - box.left;
        const int h = box.bottom - box.top;
        if (batch != nullptr) {
            batch = DeferWindowPos(batch, entry.control, nullptr, box.left, box.top, w, h, kPlaceFlags);
        } else {
            SetWindowPos(entry.control, nullptr, box.left, box.top, w, h, kPlaceFlags);
        }
    }
    if (batch != nullptr) EndDeferWindowPos(batch);
}

void Detach(HWND window, ResizerState* state) {
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(state->previous));
    RemovePropA(window, MAKEINTATOM(state->atom));
    GlobalDeleteAtom(state->atom);
    delete[] state->entries;
    delete state;
}

LRESULT CALLBACK ResizerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const ATOM atom = GlobalFindAtomA(kResizerProperty);
    ResizerState* state = StateOf(window, atom);
    if (state == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    const WNDPROC previous = state->previous;

    switch (message) {
    case WM_SIZE:
        PlaceControls(*state, LOWORD(lParam), HIWORD(lParam));
        break;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const LONG width = state->firstWindow.right - state->firstWindow.left;
        const LONG height = state->firstWindow.bottom - state->firstWindow.top;
        info->ptMinTrackSize.x = width;
        info->ptMinTrackSize.y = height;
        if (state->flags & MIVO_RESIZE_FIX_WIDTH) info->ptMaxTrackSize.x = width;
        if (state->flags & MIVO_RESIZE_FIX_HEIGHT) info->ptMaxTrackSize.y = height;
        break;
    }
    case WM_DESTROY:
        Detach(window, state);
        break;
    default:
        break;
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

MIVO_API int WINAPI MIVO_UiResize(HINSTANCE instance, HWND window, UINT32 flags, int count,
                                  const MIVO_ResizeItem* items, int grip) {
    if (window == nullptr || count < 0 || (count > 0 && items == nullptr)) return 0;
    if (instance == nullptr) {
        instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
        if (instance == nullptr) return 0;
    }
    const ATOM existing = GlobalFindAtomA(kResizerProperty);
    if (existing != 0 && StateOf(window, existing) != nullptr) return 0;  // one resizer per window

    auto* state = new (std::nothrow) ResizerState{};
    if (state == nullptr) return 0;
    state->entries = new (std::nothrow) ResizeEntry[count + 1]{};
    if (state->entries == nullptr) {
        delete state;
        return 0;
    }
    GetClientRect(window, &state->firstClient);
    GetWindowRect(window, &state->firstWindow);
    state->flags = flags & kWindowFlagMask;

    for (int i = 0; i < count; ++i) {
        ResizeEntry& entry = state->entries[i];
        entry.flags = items[i].flags;
        entry.control = GetDlgItem(window, items[i].id);
        if (entry.control != nullptr) entry.first = ClientRectOf(window, entry.control);
    }
    state->count = count;
    if (grip != 0) {
        const int w = GetSystemMetrics(SM_CYVSCROLL);
        const int h = GetSystemMetrics(SM_CXVSCROLL);
        HWND sizeGrip = CreateWindowExA(
            0, "SCROLLBAR", nullptr,
            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN,
            state->firstClient.right - w, state->firstClient.bottom - h, w, h, window, nullptr, instance,
            nullptr);
        if (sizeGrip != nullptr) {
            // New children go to the bottom of the Z order, where a band
            // drawn across the corner would hide the grip.
            SetWindowPos(sizeGrip, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            ResizeEntry& entry = state->entries[count];
            entry.control = sizeGrip;
            entry.flags = kGripFlags;
            entry.first = ClientRectOf(window, sizeGrip);
            state->count = count + 1;
        }
    }

    state->atom = GlobalAddAtomA(kResizerProperty);
    if (state->atom == 0 || !SetPropA(window, MAKEINTATOM(state->atom), state)) {
        if (state->atom != 0) GlobalDeleteAtom(state->atom);
        if (state->count > count) DestroyWindow(state->entries[count].control);
        delete[] state->entries;
        delete state;
        return 0;
    }
    state->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ResizerProc)));
    return 1;
}
