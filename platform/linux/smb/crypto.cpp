#include "platform/linux/smb/crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

#include "platform/text/wipe.h"

namespace kestrine::smb {
namespace {

struct MacDeleter {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
  void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
  void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
template <class T>
using Owned = std::unique_ptr<T, MacDeleter>;

void require(bool ok, const char* what) {
  if (!ok) throw CryptoError(std::string("OpenSSL: ") + what + " failed");
}

int intLength(std::size_t size) {
  if (size > INT_MAX) throw CryptoError("a message too large to encrypt");
  return static_cast<int>(size);
}

// Parameters take non-const pointers; OpenSSL only reads them.
void* param(ByteView bytes) {
  return const_cast<std::uint8_t*>(bytes.data());
}
char* param(const char* text) {
  return const_cast<char*>(text);
}

template <std::size_t N>
std::array<std::uint8_t, N> computeMac(const char* algorithm, ByteView key, ByteView data,
                                       const OSSL_PARAM* params) {
  Owned<EVP_MAC> mac(EVP_MAC_fetch(nullptr, algorithm, nullptr));
  require(mac != nullptr, algorithm);
  Owned<EVP_MAC_CTX> context(EVP_MAC_CTX_new(mac.get()));
  require(context != nullptr, "EVP_MAC_CTX_new");
  require(EVP_MAC_init(context.get(), key.data(), key.size(), params) == 1, "EVP_MAC_init");
  require(EVP_MAC_update(context.get(), data.data(), data.size()) == 1, "EVP_MAC_update");
  std::array<std::uint8_t, 64> out{};
  std::size_t length = 0;
  require(EVP_MAC_final(context.get(), out.data(), &length, out.size()) == 1, "EVP_MAC_final");
  require(length >= N, "a MAC shorter than expected");
  std::array<std::uint8_t, N> result{};
  std::copy(out.begin(), out.begin() + N, result.begin());
  return result;
}

const EVP_CIPHER* aeadCipher(Aead mode, std::size_t keySize) {
  if (keySize != 16 && keySize != 32) throw CryptoError("an AES key of neither 128 nor 256 bits");
  if (mode == Aead::kCcm) return keySize == 16 ? EVP_aes_128_ccm() : EVP_aes_256_ccm();
  return keySize == 16 ? EVP_aes_128_gcm() : EVP_aes_256_gcm();
}

}  // namespace

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    if (!bytes_.empty()) wipe(bytes_.data(), bytes_.size());
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

SecretBytes::~SecretBytes() {
  if (!bytes_.empty()) wipe(bytes_.data(), bytes_.size());
}

std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView data) {
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, param("SHA256"), 0),
      OSSL_PARAM_construct_end()};
  return computeMac<32>("HMAC", key, data, params);
}

Mac aesCmac(ByteView key, ByteView data) {
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER,
                                       param(key.size() == 32 ? "AES-256-CBC" : "AES-128-CBC"), 0),
      OSSL_PARAM_construct_end()};
  return computeMac<16>("CMAC", key, data, params);
}

Mac aesGmac(ByteView key, ByteView nonce, ByteView data) {
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER,
                                       param(key.size() == 32 ? "AES-256-GCM" : "AES-128-GCM"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_MAC_PARAM_IV, param(nonce), nonce.size()),
      OSSL_PARAM_construct_end()};
  return computeMac<16>("GMAC", key, data, params);
}

SecretBytes kdfCounterHmacSha256(ByteView key, ByteView label, ByteView context,
                                 std::size_t length) {
  Owned<EVP_KDF> kdf(EVP_KDF_fetch(nullptr, "KBKDF", nullptr));
  require(kdf != nullptr, "KBKDF");
  Owned<EVP_KDF_CTX> kdfContext(EVP_KDF_CTX_new(kdf.get()));
  require(kdfContext != nullptr, "EVP_KDF_CTX_new");
  // KBKDF's defaults put the zero separator and L (in bits, 32-bit
  // big-endian) where SP800-108 has them; the counter is 32 bits (r = 32).
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MODE, param("counter"), 0),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_MAC, param("HMAC"), 0),
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, param("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, param(key), key.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, param(label), label.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, param(context), context.size()),
      OSSL_PARAM_construct_end()};
  SecretBytes out(length);
  require(EVP_KDF_derive(kdfContext.get(), out.data(), out.size(), params) == 1, "EVP_KDF_derive");
  return out;
}

std::array<std::uint8_t, 64> sha512(ByteView first, ByteView second) {
  Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  require(context != nullptr, "EVP_MD_CTX_new");
  require(EVP_DigestInit_ex(context.get(), EVP_sha512(), nullptr) == 1, "EVP_DigestInit_ex");
  require(EVP_DigestUpdate(context.get(), first.data(), first.size()) == 1, "EVP_DigestUpdate");
  require(EVP_DigestUpdate(context.get(), second.data(), second.size()) == 1, "EVP_DigestUpdate");
  std::array<std::uint8_t, 64> out{};
  unsigned int length = 0;
  require(EVP_DigestFinal_ex(context.get(), out.data(), &length) == 1 && length == 64,
          "EVP_DigestFinal_ex");
  return out;
}

Bytes aeadEncrypt(Aead mode, ByteView key, ByteView nonce, ByteView aad, ByteView plaintext,
                  Mac& tag) {
  Owned<EVP_CIPHER_CTX> context(EVP_CIPHER_CTX_new());
  require(context != nullptr, "EVP_CIPHER_CTX_new");
  EVP_CIPHER_CTX* c = context.get();
  require(EVP_EncryptInit_ex(c, aeadCipher(mode, key.size()), nullptr, nullptr, nullptr) == 1,
          "EVP_EncryptInit_ex");
  require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, intLength(nonce.size()), nullptr) == 1,
          "setting the nonce length");
  if (mode == Aead::kCcm) {
    require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, nullptr) == 1,
            "setting the tag length");
  }
  require(EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data()) == 1,
          "EVP_EncryptInit_ex");
  int length = 0;
  if (mode == Aead::kCcm) {  // CCM wants the length first
    require(EVP_EncryptUpdate(c, nullptr, &length, nullptr, intLength(plaintext.size())) == 1,
            "EVP_EncryptUpdate");
  }
  require(EVP_EncryptUpdate(c, nullptr, &length, aad.data(), intLength(aad.size())) == 1,
          "EVP_EncryptUpdate");
  Bytes out(plaintext.size() + 16);
  require(
      EVP_EncryptUpdate(c, out.data(), &length, plaintext.data(), intLength(plaintext.size())) == 1,
      "EVP_EncryptUpdate");
  int final = 0;
  require(EVP_EncryptFinal_ex(c, out.data() + length, &final) == 1, "EVP_EncryptFinal_ex");
  out.resize(static_cast<std::size_t>(length + final));
  require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, tag.data()) == 1, "reading the tag");
  return out;
}

bool aeadDecrypt(Aead mode, ByteView key, ByteView nonce, ByteView aad, ByteView ciphertext,
                 const Mac& tag, Bytes& out) {
  Owned<EVP_CIPHER_CTX> context(EVP_CIPHER_CTX_new());
  require(context != nullptr, "EVP_CIPHER_CTX_new");
  EVP_CIPHER_CTX* c = context.get();
  require(EVP_DecryptInit_ex(c, aeadCipher(mode, key.size()), nullptr, nullptr, nullptr) == 1,
          "EVP_DecryptInit_ex");
  require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, intLength(nonce.size()), nullptr) == 1,
          "setting the nonce length");
  Mac expected = tag;
  if (mode == Aead::kCcm) {
    require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, expected.data()) == 1,
            "setting the tag");
  }
  require(EVP_DecryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data()) == 1,
          "EVP_DecryptInit_ex");
  int length = 0;
  if (mode == Aead::kCcm) {
    require(EVP_DecryptUpdate(c, nullptr, &length, nullptr, intLength(ciphertext.size())) == 1,
            "EVP_DecryptUpdate");
  }
  require(EVP_DecryptUpdate(c, nullptr, &length, aad.data(), intLength(aad.size())) == 1,
          "EVP_DecryptUpdate");
  out.assign(ciphertext.size() + 16, 0);
  // CCM checks the tag here, GCM in the final step.
  if (EVP_DecryptUpdate(c, out.data(), &length, ciphertext.data(), intLength(ciphertext.size())) !=
      1) {
    wipe(out.data(), out.size());
    out.clear();
    return false;
  }
  if (mode == Aead::kGcm) {
    require(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, expected.data()) == 1,
            "setting the tag");
    int final = 0;
    if (EVP_DecryptFinal_ex(c, out.data() + length, &final) != 1) {
      wipe(out.data(), out.size());
      out.clear();
      return false;
    }
    length += final;
  }
  out.resize(static_cast<std::size_t>(length));
  return true;
}

void randomBytes(std::span<std::uint8_t> out) {
  require(RAND_bytes(out.data(), intLength(out.size())) == 1, "RAND_bytes");
}

}  // namespace kestrine::smb
