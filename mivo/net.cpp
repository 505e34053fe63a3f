// Windows Sockets helpers (ordinals 5 to 8).
#include "mivo.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(1, 1);
constexpr int kListenBacklog = 5;

// Closes the socket this call created and hands back the error code: the code
// carries no socket, so the caller would have nothing to close.
INT_PTR Fail(SOCKET s, int code) {
    closesocket(s);
    return code;
}

}  // namespace

MIVO_API int WINAPI MIVO_NetStartup(void) {
    WSADATA data;
    return WSAStartup(kWinsockVersion, &data) == 0 ? 1 : 0;
}

MIVO_API int WINAPI MIVO_NetShutdown(void) { return WSACleanup(); }

MIVO_API INT_PTR WINAPI MIVO_NetCreateSocket(sockaddr_in* address, const char* host, int port,
                                             int mode) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return MIVO_NET_ERR_SOCKET;

    sockaddr_in local;
    sockaddr_in* addr = address != nullptr ? address : &local;
    addr->sin_family = AF_INET;
    addr->sin_port = htons(static_cast<u_short>(port));
    ZeroMemory(addr->sin_zero, sizeof addr->sin_zero);

    switch (mode) {
    case MIVO_SOCKET_SERVER:
        addr->sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(s, reinterpret_cast<sockaddr*>(addr), sizeof *addr) == SOCKET_ERROR)
            return Fail(s, MIVO_NET_ERR_BIND);
        if (listen(s, kListenBacklog) == SOCKET_ERROR) return Fail(s, MIVO_NET_ERR_LISTEN);
        return static_cast<INT_PTR>(s);
    case MIVO_SOCKET_CLIENT: {
        if (host == nullptr) return Fail(s, MIVO_NET_ERR_NO_HOST);
        const hostent* entry = gethostbyname(host);
        if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr)
            return Fail(s, MIVO_NET_ERR_RESOLVE);
        CopyMemory(&addr->sin_addr, entry->h_addr_list[0], sizeof addr->sin_addr);
        return static_cast<INT_PTR>(s);
    }
    default:
        return Fail(s, MIVO_NET_ERR_MODE);
    }
}

MIVO_API int WINAPI MIVO_NetDestroySocket(SOCKET socket) { return closesocket(socket); }
