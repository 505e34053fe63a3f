// System services: folder chooser, shutdown and platform family (ordinals 9 to 11).
#include "mivo.h"

#include <shlobj.h>

#include "common/scoped_handle.h"

namespace {

constexpr UINT kBrowseFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;  // 0x50

}  // namespace

MIVO_API int WINAPI MIVO_SysGetPath(HWND owner, const char* title, char* path) {
    if (path == nullptr) return 0;
    const HRESULT ole = OleInitialize(nullptr);

    char displayName[MAX_PATH] = {};
    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = title;
    browse.ulFlags = kBrowseFlags;

    path[0] = '\0';
    int chosen = 0;
    if (PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&browse)) {
        // A virtual folder (Control Panel, say) has no file-system path: that is
        // not a folder the caller can use, so it does not count as chosen.
        if (SHGetPathFromIDListA(item, path)) chosen = 1;
        else path[0] = '\0';
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return chosen;
}

MIVO_API int WINAPI MIVO_SysShutdown(int reboot) {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened))
        return 0;
    ScopedHandle token(opened);

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL adjusted = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                                          &privileges.Privileges[0].Luid);
    if (adjusted) {
        SetLastError(ERROR_SUCCESS);
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        adjusted = GetLastError() == ERROR_SUCCESS;
    }
    token.reset();
    if (!adjusted) return 0;

    const UINT how = reboot != 0 ? (EWX_REBOOT | EWX_FORCE)
                                 : (EWX_SHUTDOWN | EWX_FORCE | EWX_POWEROFF);
    return ExitWindowsEx(how, 0) ? 1 : 0;
}

MIVO_API int WINAPI MIVO_SysOsVersion(int family) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return 0;
    switch (family) {
    case MIVO_OS_NT: return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
    case MIVO_OS_WIN95: return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
    default: return 0;
    }
}
