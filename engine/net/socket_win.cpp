#include "engine/net/socket_win.h"

#include <ws2tcpip.h>

#include <cstdio>

namespace engine {

namespace {

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

DWORD Remaining(DWORD since, DWORD total) {
    DWORD used = Elapsed(since);
    return used >= total ? 0 : total - used;
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

int TcpConnection::Wait(DWORD timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (HANDLE h : cancel_) {
        if (count + 1 < MAXIMUM_WAIT_OBJECTS) handles[count++] = h;
    }
    handles[count++] = event_;
    DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (r == WAIT_TIMEOUT) return kSocketTimeout;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count - 1) return kSocketCancelled;
    if (r != WAIT_OBJECT_0 + count - 1) return kSocketError;
    return kSocketOk;
}

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
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    char service[8];
    snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo* list = nullptr;
    // Name resolution itself cannot be cancelled; it is bounded by the resolver.
    if (getaddrinfo(host, service, &hints, &list) != 0 || !list) return kSocketError;
    size_t count = 0;
    for (addrinfo* a = list; a; a = a->ai_next) ++count;
    DWORD start = GetTickCount();
    int result = kSocketError;
    for (addrinfo* a = list; a; a = a->ai_next, --count) {
        DWORD left = Remaining(start, timeoutMs);
        if (left == 0) {
            result = kSocketTimeout;
            break;
        }
        result = ConnectOne(a->ai_addr, static_cast<int>(a->ai_addrlen), left / count);
        if (result == kSocketOk || result == kSocketCancelled) break;
    }
    freeaddrinfo(list);
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
