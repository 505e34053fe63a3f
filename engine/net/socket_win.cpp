#include "engine/net/socket_win.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/net/blocking_call_win.h"

namespace engine {

namespace {

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

DWORD Remaining(DWORD since, DWORD total) {
    DWORD used = Elapsed(since);
    return used >= total ? 0 : total - used;
}

// The addresses of a host. It may belong to a lookup that was walked away
// from: it holds its own copies, and its own use of Winsock.
struct AddressList {
    AddressList(const char* host_name, uint16_t port) : host(host_name) {
        snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
    }
    ~AddressList() {
        if (list) freeaddrinfo(list);
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;

    bool Lookup(int flags) {
        hints.ai_flags = flags;
        return getaddrinfo(host.c_str(), service, &hints, &list) == 0 && list;
    }

    WinsockUse winsock;
    std::string host;
    char service[8] = {};
    addrinfo hints = {};
    addrinfo* list = nullptr;
};

// The addresses of host, or why there are none. An address in numbers needs
// no resolver; a name is looked up on a thread of its own, as the resolver
// cannot be cancelled and may take far longer than the caller has.
int Resolve(const char* host, uint16_t port, const std::vector<HANDLE>& cancel,
            const Deadline& deadline, std::shared_ptr<AddressList>* out) {
    auto addresses = std::make_shared<AddressList>(host, port);
    if (!addresses->winsock.ok()) return kSocketError;
    if (addresses->Lookup(AI_NUMERICHOST)) {
        *out = std::move(addresses);
        return kSocketOk;
    }
    if (deadline.Passed()) return kSocketTimeout;
    auto found = std::make_shared<bool>(false);
    const int r = RunBlockingCall([addresses, found] { *found = addresses->Lookup(0); },
                                  cancel, deadline.Left());
    if (r != kSocketOk) return r;
    if (!*found) return kSocketError;
    *out = std::move(addresses);
    return kSocketOk;
}

}  // namespace

Deadline::Deadline(DWORD ms) : start_(GetTickCount()), total_(ms) {}

DWORD Deadline::Left() const { return Remaining(start_, total_); }

DWORD Deadline::Cap(DWORD ms) const {
    const DWORD left = Left();
    return ms < left ? ms : left;
}

WinsockUse::WinsockUse() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockUse::~WinsockUse() {
    if (ok_) WSACleanup();
}

TcpConnection::TcpConnection(std::vector<HANDLE> cancel) : cancel_(std::move(cancel)) {}

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    if (event_ != WSA_INVALID_EVENT) {
        WSACloseEvent(event_);
        event_ = WSA_INVALID_EVENT;
    }
}

int WaitOrCancel(HANDLE handle, const std::vector<HANDLE>& cancel, DWORD timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (HANDLE h : cancel) {
        if (count + 1 < MAXIMUM_WAIT_OBJECTS) handles[count++] = h;
    }
    handles[count++] = handle;
    DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (r == WAIT_TIMEOUT) return kSocketTimeout;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count - 1) return kSocketCancelled;
    if (r != WAIT_OBJECT_0 + count - 1) return kSocketError;
    return kSocketOk;
}

int TcpConnection::Wait(DWORD timeoutMs) { return WaitOrCancel(event_, cancel_, timeoutMs); }

int TcpConnection::ConnectOne(const sockaddr* address, int length, DWORD timeoutMs) {
    Close();
    socket_ = socket(address->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) return kSocketError;
    event_ = WSACreateEvent();
    if (event_ == WSA_INVALID_EVENT) return kSocketError;
    // Makes the socket non-blocking; every wait goes through Wait().
    if (WSAEventSelect(socket_, event_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
        return kSocketError;
    if (connect(socket_, address, length) == 0) return kSocketOk;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return kSocketError;
    DWORD start = GetTickCount();
    for (;;) {
        int w = Wait(Remaining(start, timeoutMs));
        if (w != kSocketOk) return w;
        WSANETWORKEVENTS events;
        if (WSAEnumNetworkEvents(socket_, event_, &events) != 0) return kSocketError;
        if (events.lNetworkEvents & FD_CONNECT) {
            return events.iErrorCode[FD_CONNECT_BIT] == 0 ? kSocketOk : kSocketError;
        }
    }
}

int TcpConnection::Connect(const char* host, uint16_t port, DWORD timeoutMs) {
    const Deadline deadline(timeoutMs);
    std::shared_ptr<AddressList> addresses;
    int result = Resolve(host, port, cancel_, deadline, &addresses);
    if (result != kSocketOk) return result;
    size_t count = 0;
    for (addrinfo* a = addresses->list; a; a = a->ai_next) ++count;
    result = kSocketError;
    for (addrinfo* a = addresses->list; a; a = a->ai_next, --count) {
        const DWORD left = deadline.Left();
        if (left == 0) {
            result = kSocketTimeout;
            break;
        }
        result = ConnectOne(a->ai_addr, static_cast<int>(a->ai_addrlen), left / count);
        if (result == kSocketOk || result == kSocketCancelled) break;
    }
    if (result != kSocketOk) Close();
    return result;
}

int TcpConnection::SendAll(const void* data, size_t size, DWORD timeoutMs) {
    const char* p = static_cast<const char*>(data);
    DWORD start = GetTickCount();
    while (size > 0) {
        int chunk = size > 65536 ? 65536 : static_cast<int>(size);
        int n = send(socket_, p, chunk, 0);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return kSocketError;
        int w = Wait(Remaining(start, timeoutMs));
        if (w != kSocketOk) return w;
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(socket_, event_, &events);
        if (events.lNetworkEvents & FD_CLOSE) return kSocketError;
    }
    return kSocketOk;
}

int TcpConnection::Recv(void* buffer, int size, DWORD timeoutMs) {
    if (socket_ == INVALID_SOCKET) return kSocketError;
    DWORD start = GetTickCount();
    for (;;) {
        int n = recv(socket_, static_cast<char*>(buffer), size, 0);
        if (n >= 0) return n;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return kSocketError;
        int w = Wait(Remaining(start, timeoutMs));
        if (w != kSocketOk) return w;
        WSANETWORKEVENTS events;
        WSAEnumNetworkEvents(socket_, event_, &events);
    }
}

}  // namespace engine
