// Mivo: the small support library shipped beside Orvantis.
// Public interface, shared by the library itself, the program and the tests.
// Every function is exported by ordinal and undecorated name (see mivo.def);
// on i386 they use the standard Windows calling convention.
#pragma once

#include <winsock2.h> // before windows.h, which would pull in the old winsock.h
#include <windows.h>

#ifdef MIVO_BUILDING_LIBRARY
#define MIVO_API extern "C" __declspec(dllexport)
#else
#define MIVO_API extern "C" __declspec(dllimport)
#endif

// Version information of the library (ordinal 1).
struct MIVO_VerInfo {
    BYTE major;
    BYTE minor;
    BYTE patch;
    DWORD build;
};

// Contents of the About and module dialogs (ordinals 3 and 4). Every field is one
// pointer-sized slot; the caller keeps the record alive while the dialog is open.
struct MIVO_DlgInfo {
    HINSTANCE instance;
    HWND parent;
    HICON icon;
    const char* name;
    const char* version;
    ULONG_PTR build;
    const char* rights;
    const char* ideaCredit;
    const char* programmerCredit;
    const char* linkText;
    const char* linkUrl;
    const char* linkTooltip;
};

// One control anchored by the resizer (ordinal 12).
struct MIVO_ResizeItem {
    INT32 id;
    UINT32 flags;
};

enum : UINT32 {
    MIVO_RESIZE_MOVE_X = 0x1,     // left and right edges follow the width change
    MIVO_RESIZE_MOVE_Y = 0x2,     // top and bottom edges follow the height change
    MIVO_RESIZE_GROW_X = 0x4,     // right edge follows the width change
    MIVO_RESIZE_GROW_Y = 0x8,     // bottom edge follows the height change
    MIVO_RESIZE_FIX_WIDTH = 0x10, // window flag: the width never grows past the first one
    MIVO_RESIZE_FIX_HEIGHT = 0x20 // window flag: the height never grows past the first one
};

typedef void(CALLBACK* MIVO_HypCtrlCallback)(UINT32 value);

// Description of a hyperlink control (ordinals 14 and 15).
struct MIVO_HypCtrlInfo {
    const char* url;
    const char* text;
    const char* tooltip;
    COLORREF textColour;
    COLORREF hoverTextColour;
    COLORREF backgroundColour;
    COLORREF hoverBackgroundColour;
    UINT32 fontStyle;
    UINT32 format;
    UINT32 autoSize;
    MIVO_HypCtrlCallback callback;
    UINT32 callbackValue;
};

// Font kinds of MIVO_UiSetFont.
enum : int { MIVO_FONT_FIXED = 0, MIVO_FONT_NORMAL = 1, MIVO_FONT_BOLD = 2 };

// Socket modes and result codes of MIVO_NetCreateSocket.
enum : int { MIVO_SOCKET_SERVER = 1, MIVO_SOCKET_CLIENT = 2 };
enum : int {
    MIVO_NET_ERR_SOCKET = -200,
    MIVO_NET_ERR_BIND = -201,
    MIVO_NET_ERR_LISTEN = -202,
    MIVO_NET_ERR_RESOLVE = -203,
    MIVO_NET_ERR_MODE = -204,
    MIVO_NET_ERR_NO_HOST = -205
};

// Platform families of MIVO_SysOsVersion.
enum : int { MIVO_OS_NT = 1, MIVO_OS_WIN95 = 2 };

MIVO_API void WINAPI MIVO_VerGetInformation(MIVO_VerInfo* info);                     // 1
MIVO_API int WINAPI MIVO_VerVerify(int major, int minor, int patch, int silent);     // 2
MIVO_API INT_PTR WINAPI MIVO_DlgAbout(MIVO_DlgInfo* info);                           // 3
MIVO_API INT_PTR WINAPI MIVO_DlgModules(MIVO_DlgInfo* info);                         // 4
MIVO_API int WINAPI MIVO_NetStartup(void);                                           // 5
MIVO_API int WINAPI MIVO_NetShutdown(void);                                          // 6
MIVO_API INT_PTR WINAPI MIVO_NetCreateSocket(sockaddr_in* address, const char* host,
                                             int port, int mode);                    // 7
MIVO_API int WINAPI MIVO_NetDestroySocket(SOCKET socket);                            // 8
MIVO_API int WINAPI MIVO_SysGetPath(HWND owner, const char* title, char* path);      // 9
MIVO_API int WINAPI MIVO_SysShutdown(int reboot);                                    // 10
MIVO_API int WINAPI MIVO_SysOsVersion(int family);                                   // 11
MIVO_API int WINAPI MIVO_UiResize(HINSTANCE instance, HWND window, UINT32 flags, int count,
                                  const MIVO_ResizeItem* items, int grip);           // 12
MIVO_API HWND WINAPI MIVO_UiCenterWindow(HWND window, HWND reference);               // 13
MIVO_API int WINAPI MIVO_UiHypCtrlInit(MIVO_HypCtrlInfo* info);                      // 14
MIVO_API HWND WINAPI MIVO_UiHypCtrlCreate(HWND parent, const MIVO_HypCtrlInfo* info, int x,
                                          int y, int width, int height);             // 15
MIVO_API int WINAPI MIVO_UiSetFont(HWND window, int kind, int children, int height);  // 16
