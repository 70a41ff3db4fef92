// OpenSSL's libcrypto as an independent oracle for MD5 and RC4 (tests only).
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace remcons::testing {

// RC4 lives in OpenSSL 3's legacy provider. Loading a provider explicitly stops the default one
// from loading by itself, so both are loaded; they are unloaded at exit. False when the legacy
// provider is missing.
inline bool LoadLegacyProvider() {
  struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
      if (legacy) OSSL_PROVIDER_unload(legacy);
      if (fallback) OSSL_PROVIDER_unload(fallback);
    }
  };
  static const Providers providers;
  return providers.legacy != nullptr && providers.fallback != nullptr;
}

inline std::array<uint8_t, 16> OsslMd5(const void* data, size_t length) {
  std::array<uint8_t, 16> out{};
  if (EVP_Digest(data, length, out.data(), nullptr, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("EVP_Digest MD5 failed");
  return out;
}

// MD5(first | second) for two 16-byte halves: one step of a key chain.
inline std::array<uint8_t, 16> OsslChainStep(const uint8_t* sessionKey, const uint8_t* previous) {
  uint8_t both[32];
  std::memcpy(both, sessionKey, 16);
  std::memcpy(both + 16, previous, 16);
  return OsslMd5(both, sizeof both);
}

// An RC4 keystream from OpenSSL; needs LoadLegacyProvider().
class OsslRc4 {
 public:
  OsslRc4(const uint8_t* key, size_t length) : ctx_(EVP_CIPHER_CTX_new()) {
    EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
    if (!rc4) throw std::runtime_error("RC4 not available");
    bool ok = EVP_EncryptInit_ex2(ctx_, rc4, nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx_, static_cast<int>(length)) == 1 &&
              EVP_EncryptInit_ex2(ctx_, nullptr, key, nullptr, nullptr) == 1;
    EVP_CIPHER_free(rc4);
    if (!ok) throw std::runtime_error("RC4 key set-up failed");
  }
  ~OsslRc4() { EVP_CIPHER_CTX_free(ctx_); }
  OsslRc4(const OsslRc4&) = delete;
  OsslRc4& operator=(const OsslRc4&) = delete;

  void Xor(uint8_t* data, size_t n) {
    int outLength = 0;
    if (n > 0 && EVP_EncryptUpdate(ctx_, data, &outLength, data, static_cast<int>(n)) != 1)
      throw std::runtime_error("RC4 update failed");
  }

 private:
  EVP_CIPHER_CTX* ctx_;
};

}  // namespace remcons::testing
