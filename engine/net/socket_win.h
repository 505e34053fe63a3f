// A TCP connection on Winsock whose every wait can be cut short: each blocking
// step waits on the socket's event and on the caller's cancel events at once,
// so freeing a stream or the engine never waits out a network timeout.
#pragma once

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// Outcome of a socket step. Positive Recv results are byte counts.
enum SocketResult : int {
    kSocketOk = 0,
    kSocketClosed = 0,       // Recv: the peer ended the connection
    kSocketError = -1,       // refused, reset, unknown host
    kSocketTimeout = -2,     // nothing happened within the time allowed
    kSocketCancelled = -3,   // one of the cancel events was set
    kSocketTlsFailed = -4,   // no TLS session, or the server's certificate is not good
};

// A point in time that several steps share: each waits no longer than
// what is left of it.
class Deadline {
public:
    explicit Deadline(DWORD ms);
    DWORD Left() const;
    // ms, or less when the deadline comes sooner.
    DWORD Cap(DWORD ms) const;
    bool Passed() const { return Left() == 0; }

private:
    DWORD start_;
    DWORD total_;
};

// Waits for `handle` and the cancel events at once: kSocketOk when handle was
// set, kSocketCancelled (a cancel event first), kSocketTimeout or kSocketError.
int WaitOrCancel(HANDLE handle, const std::vector<HANDLE>& cancel, DWORD timeoutMs);

// A byte stream to a server, plain or encrypted.
class Connection {
public:
    virtual ~Connection() = default;
    virtual int SendAll(const void* data, size_t size, DWORD timeoutMs) = 0;
    // Bytes read (> 0), kSocketClosed, or a negative SocketResult.
    virtual int Recv(void* buffer, int size, DWORD timeoutMs) = 0;
};

class TcpConnection final : public Connection {
public:
    // cancel: manual-reset events; any of them set ends every wait at once.
    explicit TcpConnection(std::vector<HANDLE> cancel);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Looks host up and tries every address of it within timeoutMs in all;
    // each address gets an equal share of what is left when its turn comes,
    // so one that never answers leaves time for the next. A lookup that
    // takes longer, or is cancelled, is left to end on its own.
    int Connect(const char* host, uint16_t port, DWORD timeoutMs);
    int SendAll(const void* data, size_t size, DWORD timeoutMs) override;
    int Recv(void* buffer, int size, DWORD timeoutMs) override;
    void Close();
    const std::vector<HANDLE>& cancel() const { return cancel_; }

private:
    // Waits for socket activity; kSocketOk, kSocketTimeout or kSocketCancelled.
    int Wait(DWORD timeoutMs);
    int ConnectOne(const sockaddr* address, int length, DWORD timeoutMs);

    SOCKET socket_ = INVALID_SOCKET;
    WSAEVENT event_ = WSA_INVALID_EVENT;
    std::vector<HANDLE> cancel_;
};

// Keeps Winsock initialised for as long as it lives.
class WinsockUse {
public:
    WinsockUse();
    ~WinsockUse();
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace engine
