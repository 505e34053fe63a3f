// Chain parameters with the URL retrieval timeout.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "engine/net/tls_win.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "engine/net/blocking_call_win.h"

namespace engine {

namespace {

// Room for the largest TLS record (16 KiB of data plus its overhead) and the
// next one's beginning; a server that needs more for one record is refused.
constexpr size_t kEncryptedCapacity = 64 * 1024;
constexpr size_t kReceivePiece = 16 * 1024;

constexpr DWORD kRequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_MANUAL_CRED_VALIDATION;
// We check the certificate ourselves; SChannel should not send the one a
// client may have installed, nor look up revocation on its own.
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS |
                                   SCH_USE_STRONG_CRYPTO;
constexpr DWORD kTlsClientProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;

// A server that asks for a client certificate is answered without one, once;
// asked again, the handshake fails.
constexpr int kMaxCertificateRequests = 1;
// Chain errors that do not refuse a server: we ask for no revocation check,
// so not knowing a certificate's revocation status is expected. Every other
// error does, a partial chain among them, which Wine's SSL policy does not
// report.
constexpr DWORD kToleratedTrustErrors =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

char kServerAuth[] = szOID_PKIX_KP_SERVER_AUTH;

// Frees a buffer SChannel allocated for us.
struct ContextBuffer {
    void* p = nullptr;
    ~ContextBuffer() {
        if (p) FreeContextBuffer(p);
    }
};

#ifdef ORVANTIS_TLS_FAULTS
// The tests' stand-in for a server that asks for a client certificate the way
// Windows' SChannel reports it (Wine's answers such a request itself). With
// ORVANTIS_TLS_FAULTS=ask-certificate in the environment, the first call that
// carries the server's answer reports SEC_I_INCOMPLETE_CREDENTIALS without
// reading it, until the caller says it goes on with what it has. Never built
// into a release.
bool AskForCertificate(bool first, DWORD flags) {
    constexpr char kVariable[] = "ORVANTIS_TLS_FAULTS";
    constexpr char kAsk[] = "ask-certificate";
    char value[sizeof kAsk + 1] = {};
    const DWORD n = GetEnvironmentVariableA(kVariable, value, sizeof value);
    return !first && !(flags & ISC_REQ_USE_SUPPLIED_CREDS) && n == sizeof kAsk - 1 &&
           strcmp(value, kAsk) == 0;
}
#else
bool AskForCertificate(bool, DWORD) { return false; }
#endif

std::wstring Widen(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    // Host names are ASCII (IDN names come as punycode).
    for (size_t i = 0; i < s.size(); ++i) w[i] = static_cast<unsigned char>(s[i]);
    return w;
}

bool AcquireClientCredentials(CredHandle* credentials) {
    // The newer credentials offer TLS 1.3 where the system has it; systems
    // that do not know them get TLS 1.2 through the older form.
    TLS_PARAMETERS tls = {};
    tls.grbitDisabledProtocols = ~static_cast<DWORD>(kTlsClientProtocols);
    SCH_CREDENTIALS modern = {};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &tls;
    TimeStamp expiry;
    char package[] = UNISP_NAME_A;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                  nullptr, nullptr, credentials, &expiry) == SEC_E_OK)
        return true;
    SCHANNEL_CRED legacy = {};
    legacy.dwVersion = SCHANNEL_CRED_VERSION;
    legacy.dwFlags = kCredentialFlags;
    legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &legacy,
                                  nullptr, nullptr, credentials, &expiry) == SEC_E_OK)
        return true;
    return false;
}

// A chain built and checked for one of the roots loads what the check of a
// server's certificate needs besides the store: the chain engine and the
// SSL policy.
void CheckOneRoot(HCERTSTORE roots) {
    PCCERT_CONTEXT root = CertEnumCertificatesInStore(roots, nullptr);
    if (!root) return;
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(nullptr, root, nullptr, nullptr, &para,
                                CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof status;
        CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(root);
}

// A server's certificate and what checking it needs, owned, so that a check
// the handshake walked away from (building the chain may fetch an issuer
// over the network) can go on alone.
struct ChainCheck {
    ChainCheck(PCCERT_CONTEXT c, const std::string& host_name, DWORD url_timeout)
        : certificate(c), store(c->hCertStore ? CertDuplicateStore(c->hCertStore) : nullptr),
          host(Widen(host_name)), url_timeout_ms(url_timeout) {}
    ~ChainCheck() {
        if (store) CertCloseStore(store, 0);
        CertFreeCertificateContext(certificate);
    }
    ChainCheck(const ChainCheck&) = delete;
    ChainCheck& operator=(const ChainCheck&) = delete;

    PCCERT_CONTEXT certificate;
    HCERTSTORE store;  // the intermediates the server sent
    std::wstring host;
    DWORD url_timeout_ms;
    bool good = false;
};

bool ChainIsGood(const ChainCheck& check) {
    CERT_CHAIN_PARA chain_para = {};
    chain_para.cbSize = sizeof chain_para;
    LPSTR usages[] = {kServerAuth};
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    chain_para.dwUrlRetrievalTimeout = check.url_timeout_ms;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, check.certificate, nullptr, check.store, &chain_para, 0,
                                 nullptr, &chain))
        return false;
    bool good = (chain->TrustStatus.dwErrorStatus & ~kToleratedTrustErrors) == 0;
    std::wstring name = check.host;  // the policy takes it as writable
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = &name[0];
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    good = good && CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
           status.dwError == 0;
    CertFreeCertificateChain(chain);
    return good;
}

}  // namespace

void WarmUpTrust() {
    // The TLS provider loads its library on the first credentials.
    CredHandle credentials;
    if (AcquireClientCredentials(&credentials)) FreeCredentialsHandle(&credentials);
    HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                     L"ROOT");
    if (roots) {
        CheckOneRoot(roots);
        CertCloseStore(roots, 0);
    }
}

TlsConnection::TlsConnection(std::unique_ptr<TcpConnection> tcp)
    : tcp_(std::move(tcp)), encrypted_(kEncryptedCapacity) {}

TlsConnection::~TlsConnection() {
    if (have_context_) DeleteSecurityContext(&context_);
    if (have_credentials_) FreeCredentialsHandle(&credentials_);
}

bool TlsConnection::Acquire() {
    have_credentials_ = AcquireClientCredentials(&credentials_);
    return have_credentials_;
}

int TlsConnection::SendToken(const void* data, size_t size, DWORD timeoutMs) {
    if (!data || size == 0) return kSocketOk;
    return tcp_->SendAll(data, size, timeoutMs);
}

int TlsConnection::Fill(DWORD timeoutMs) {
    if (encrypted_size_ == encrypted_.size()) return kSocketTlsFailed;  // a record too large
    const size_t room = std::min(encrypted_.size() - encrypted_size_, kReceivePiece);
    const int n = tcp_->Recv(encrypted_.data() + encrypted_size_, static_cast<int>(room), timeoutMs);
    if (n > 0) encrypted_size_ += static_cast<size_t>(n);
    return n;
}

int TlsConnection::Handshake(const std::string& host, DWORD timeoutMs) {
    const Deadline deadline(timeoutMs);
    host_ = host;
    if (!Acquire()) return kSocketTlsFailed;
    int r = Negotiate(deadline.Left(), false);
    if (r != kSocketOk) return r;
    r = CheckCertificate(deadline);
    if (r != kSocketOk) return r;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK)
        return kSocketTlsFailed;
    return kSocketOk;
}

int TlsConnection::Negotiate(DWORD timeoutMs, bool renegotiating) {
    const Deadline deadline(timeoutMs);
    // The first call has no input; later ones feed what the server sent.
    bool first = !renegotiating;
    DWORD flags = kRequestFlags;
    int certificate_requests = 0;
    for (;;) {
        SecBuffer in[2] = {};
        in[0].BufferType = SECBUFFER_TOKEN;
        in[0].pvBuffer = encrypted_.data();
        in[0].cbBuffer = static_cast<unsigned long>(encrypted_size_);
        in[1].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc in_desc = {SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {};
        out[0].BufferType = SECBUFFER_TOKEN;
        SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        SECURITY_STATUS status =
            AskForCertificate(first, flags)
                ? SEC_I_INCOMPLETE_CREDENTIALS
                : InitializeSecurityContextA(
                      &credentials_, first ? nullptr : &context_, const_cast<char*>(host_.c_str()),
                      flags, 0, 0, first ? nullptr : &in_desc, 0, first ? &context_ : nullptr,
                      &out_desc, &attributes, nullptr);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK ||
                      out[0].pvBuffer != nullptr))
            have_context_ = true;
        ContextBuffer token{out[0].pvBuffer};

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const int n = Fill(deadline.Left());
            if (n == 0) return kSocketTlsFailed;  // closed inside the handshake
            if (n < 0) return n;
            continue;
        }
        // A token goes out even with an error: it is the alert that says why.
        if (out[0].cbBuffer > 0) {
            const int r = SendToken(out[0].pvBuffer, out[0].cbBuffer, deadline.Left());
            if (r != kSocketOk) return r;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // The server asked for a client certificate and we have none. The
            // same input goes in again, and SChannel goes on without one.
            if (++certificate_requests > kMaxCertificateRequests || deadline.Passed())
                return kSocketTlsFailed;
            flags |= ISC_REQ_USE_SUPPLIED_CREDS;
            first = false;
            continue;
        }
        if (!first) {
            // What SChannel did not use is the start of the next message.
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= encrypted_size_) {
                memmove(encrypted_.data(), encrypted_.data() + encrypted_size_ - in[1].cbBuffer,
                        in[1].cbBuffer);
                encrypted_size_ = in[1].cbBuffer;
            } else if (status != SEC_E_INCOMPLETE_MESSAGE) {
                encrypted_size_ = 0;
            }
        }
        first = false;
        if (status == SEC_E_OK) return kSocketOk;
        if (status != SEC_I_CONTINUE_NEEDED) return kSocketTlsFailed;
        if (encrypted_size_ == 0) {
            const int n = Fill(deadline.Left());
            if (n == 0) return kSocketTlsFailed;
            if (n < 0) return n;
        }
    }
}

int TlsConnection::CheckCertificate(const Deadline& deadline) {
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        !certificate)
        return kSocketTlsFailed;
    auto check = std::make_shared<ChainCheck>(certificate, host_, deadline.Left());
    if (deadline.Passed()) return kSocketTimeout;
    const int r = RunBlockingCall([check] { check->good = ChainIsGood(*check); }, tcp_->cancel(),
                                  deadline.Left());
    if (r != kSocketOk) return r;
    return check->good ? kSocketOk : kSocketTlsFailed;
}

int TlsConnection::SendAll(const void* data, size_t size, DWORD timeoutMs) {
    const Deadline deadline(timeoutMs);
    const auto* p = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> record(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
    while (size > 0) {
        const size_t n = std::min<size_t>(size, sizes_.cbMaximumMessage);
        memcpy(record.data() + sizes_.cbHeader, p, n);
        SecBuffer b[4] = {};
        b[0] = {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
        b[1] = {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader};
        b[2] = {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n};
        b[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, b};
        if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return kSocketTlsFailed;
        const int r = tcp_->SendAll(record.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer,
                                    deadline.Left());
        if (r != kSocketOk) return r;
        p += n;
        size -= n;
    }
    return kSocketOk;
}

int TlsConnection::Recv(void* buffer, int size, DWORD timeoutMs) {
    if (size <= 0) return kSocketError;
    const Deadline deadline(timeoutMs);
    while (plain_pos_ == plain_.size()) {
        plain_.clear();
        plain_pos_ = 0;
        if (closed_) return kSocketClosed;
        SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
        SecBuffer b[4] = {};
        if (encrypted_size_ > 0) {
            b[0] = {static_cast<unsigned long>(encrypted_size_), SECBUFFER_DATA, encrypted_.data()};
            for (int i = 1; i < 4; ++i) b[i].BufferType = SECBUFFER_EMPTY;
            SecBufferDesc desc = {SECBUFFER_VERSION, 4, b};
            status = DecryptMessage(&context_, &desc, 0, nullptr);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const int n = Fill(deadline.Left());
            // A server that just closes, without saying so, ends the stream too.
            if (n == 0) return kSocketClosed;
            if (n < 0) return n;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
            return kSocketTlsFailed;
        size_t extra = 0;
        for (const SecBuffer& s : b) {
            if (s.BufferType == SECBUFFER_DATA && s.cbBuffer > 0) {
                const auto* d = static_cast<const uint8_t*>(s.pvBuffer);
                plain_.assign(d, d + s.cbBuffer);
            }
            if (s.BufferType == SECBUFFER_EXTRA) extra = s.cbBuffer;
        }
        // Decrypted in place: what follows the record moves to the front.
        if (extra > 0 && extra <= encrypted_size_)
            memmove(encrypted_.data(), encrypted_.data() + encrypted_size_ - extra, extra);
        encrypted_size_ = extra <= encrypted_size_ ? extra : 0;
        if (status == SEC_I_CONTEXT_EXPIRED) closed_ = true;
        if (status == SEC_I_RENEGOTIATE) {
            // TLS 1.3 sends tickets and key updates after the handshake: they
            // go back to SChannel, then the data goes on.
            const int r = Negotiate(deadline.Left(), true);
            if (r != kSocketOk) return r;
        }
    }
    const size_t n = std::min(plain_.size() - plain_pos_, static_cast<size_t>(size));
    memcpy(buffer, plain_.data() + plain_pos_, n);
    plain_pos_ += n;
    return static_cast<int>(n);
}

}  // namespace engine
