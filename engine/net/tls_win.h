// TLS over one of our TCP connections through the system's SChannel (SSPI).
// The server's certificate is checked here, not by SChannel: its chain must
// end in a trusted root with no error in its trust status, and the SSL policy
// must accept it for the host name we asked for. Wine's SChannel does not check at all, and on Windows we want
// the same check everywhere, so the credentials ask for manual validation.
#pragma once

#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
// The credentials that can offer TLS 1.3 (SCH_CREDENTIALS) need these.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/net/socket_win.h"

namespace engine {

// Loads the TLS provider and the system's trusted roots, and checks a chain
// for one of them, so the chain engine and the SSL policy are loaded too: all
// slow the first time a process asks (a start-up warm-up).
void WarmUpTrust();

class TlsConnection final : public Connection {
public:
    explicit TlsConnection(std::unique_ptr<TcpConnection> tcp);
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // Handshake with SNI for `host`, then the certificate check, both within
    // timeoutMs and ended by the TCP connection's cancel events. kSocketOk,
    // kSocketTlsFailed (no session or a certificate that is not good), or the
    // socket's own timeout, cancel and error results.
    int Handshake(const std::string& host, DWORD timeoutMs);

    int SendAll(const void* data, size_t size, DWORD timeoutMs) override;
    int Recv(void* buffer, int size, DWORD timeoutMs) override;

private:
    bool Acquire();
    // Runs the handshake's token exchange until SChannel is done; what it
    // received beyond the handshake stays in encrypted_.
    int Negotiate(DWORD timeoutMs, bool renegotiating);
    int SendToken(const void* data, size_t size, DWORD timeoutMs);
    // More raw bytes from the socket into encrypted_.
    int Fill(DWORD timeoutMs);
    // Whether the server's certificate is good for host_: kSocketOk or
    // kSocketTlsFailed, or the deadline's or a cancel's result when the
    // check (which may fetch an issuer) took too long.
    int CheckCertificate(const Deadline& deadline);

    std::unique_ptr<TcpConnection> tcp_;
    std::string host_;
    CredHandle credentials_ = {};
    CtxtHandle context_ = {};
    bool have_credentials_ = false;
    bool have_context_ = false;
    SecPkgContext_StreamSizes sizes_ = {};
    std::vector<uint8_t> encrypted_;  // records received, not yet decrypted
    size_t encrypted_size_ = 0;
    std::vector<uint8_t> plain_;      // decrypted, not yet handed out
    size_t plain_pos_ = 0;
    bool closed_ = false;             // the server ended the session
};

}  // namespace engine
