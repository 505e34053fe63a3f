#include "engine/hls/aes128_win.h"

#include <algorithm>
#include <climits>

#include "engine/hls/hls_follow.h"

namespace engine {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

Aes128Cbc::Aes128Cbc() {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
        algorithm_ = nullptr;
        return;
    }
    auto* mode = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC));
    if (!Succeeded(BCryptSetProperty(algorithm_, BCRYPT_CHAINING_MODE, mode, sizeof BCRYPT_CHAIN_MODE_CBC, 0))) {
        BCryptCloseAlgorithmProvider(algorithm_, 0);
        algorithm_ = nullptr;
    }
}

Aes128Cbc::~Aes128Cbc() {
    SecureZeroMemory(secret_, sizeof secret_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool Aes128Cbc::SetKey(const uint8_t (&key)[kAes128KeyBytes]) {
    std::copy(key, key + kAes128KeyBytes, secret_);
    have_key_ = algorithm_ != nullptr;
    return have_key_;
}

bool Aes128Cbc::Decrypt(const std::array<uint8_t, kAes128KeyBytes>& iv, std::vector<uint8_t>* data) {
    if (!have_key_ || data->empty() || data->size() % hls::kAesBlockBytes != 0 || data->size() > ULONG_MAX)
        return false;
    // A key object per segment: Wine's keeps the chaining value of the last
    // call when it is given the same IV again, and each segment starts anew.
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!Succeeded(BCryptGenerateSymmetricKey(algorithm_, &key, nullptr, 0, secret_, sizeof secret_, 0)))
        return false;
    // BCrypt writes the chaining value back into the IV it is given.
    std::array<uint8_t, kAes128KeyBytes> chain = iv;
    std::vector<uint8_t> plain(data->size());
    ULONG written = 0;
    const NTSTATUS status = BCryptDecrypt(key, data->data(), static_cast<ULONG>(data->size()), nullptr, chain.data(),
                                          static_cast<ULONG>(chain.size()), plain.data(), static_cast<ULONG>(plain.size()), &written, 0);
    BCryptDestroyKey(key);
    if (!Succeeded(status) || written != plain.size()) return false;
    plain.swap(*data);
    return hls::strip_pkcs7(data);
}

}  // namespace engine
