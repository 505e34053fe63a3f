// AES-128-CBC decryption of HLS segments through the system's crypto
// (BCrypt, Windows Vista and later; under Wine, its bcrypt).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

constexpr size_t kAes128KeyBytes = 16;

class Aes128Cbc {
public:
    Aes128Cbc();
    ~Aes128Cbc();
    Aes128Cbc(const Aes128Cbc&) = delete;
    Aes128Cbc& operator=(const Aes128Cbc&) = delete;

    // False when the system has no AES.
    bool SetKey(const uint8_t (&key)[kAes128KeyBytes]);
    // Decrypts whole blocks and removes the PKCS#7 padding. False (data
    // unusable) without a key, or when the bytes are not whole blocks or
    // their padding is not valid: the wrong key, or a cut segment.
    bool Decrypt(const std::array<uint8_t, kAes128KeyBytes>& iv, std::vector<uint8_t>* data);

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    uint8_t secret_[kAes128KeyBytes] = {};
    bool have_key_ = false;
};

}  // namespace engine
