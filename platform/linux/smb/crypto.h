#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "platform/linux/smb/wire.h"

// The algorithms SMB2/3 signs, derives keys and encrypts with, from OpenSSL 3
// ([MS-SMB2] 3.1.4): nothing of them is written here.
namespace kestrine::smb {

// Key material: wiped when it goes, never copied by accident.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(ByteView bytes) : bytes_(bytes.begin(), bytes.end()) {}
  explicit SecretBytes(std::size_t size) : bytes_(size, 0) {}
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
    other.bytes_.clear();
  }
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes();

  ByteView view() const { return bytes_; }
  std::uint8_t* data() { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

 private:
  Bytes bytes_;
};

// OpenSSL failed where it should not (out of memory, an algorithm missing).
class CryptoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Mac = std::array<std::uint8_t, 16>;

// HMAC-SHA256 ([RFC2104]), all 32 bytes.
std::array<std::uint8_t, 32> hmacSha256(ByteView key, ByteView data);
// AES-CMAC ([RFC4493]) with a 128-bit key.
Mac aesCmac(ByteView key, ByteView data);
// AES-GMAC ([RFC4543]): AES-128-GCM's tag over `data` as additional data.
Mac aesGmac(ByteView key, ByteView nonce, ByteView data);

// SP800-108 counter mode with HMAC-SHA256, r = 32, L = 8 * `length`, the
// label and context as given (each with its terminating zero where the caller
// wants one), a zero byte between them ([MS-SMB2] 3.1.4.2).
SecretBytes kdfCounterHmacSha256(ByteView key, ByteView label, ByteView context,
                                 std::size_t length);

// SHA-512 of the two parts one after the other: the pre-authentication
// integrity hash's step H(i) = SHA-512(H(i-1) || message) ([MS-SMB2] 3.2.5.2).
std::array<std::uint8_t, 64> sha512(ByteView first, ByteView second);

// AES-CCM ([RFC4309], 11-byte nonce) and AES-GCM ([RFC4106], 12-byte nonce)
// with a 16-byte tag, 128- or 256-bit keys. Encryption writes the tag;
// decryption returns false when the tag does not match, and then nothing of
// `out` is to be used.
enum class Aead { kCcm, kGcm };
Bytes aeadEncrypt(Aead mode, ByteView key, ByteView nonce, ByteView aad, ByteView plaintext,
                  Mac& tag);
bool aeadDecrypt(Aead mode, ByteView key, ByteView nonce, ByteView aad, ByteView ciphertext,
                 const Mac& tag, Bytes& out);

// Bytes from OpenSSL's random generator.
void randomBytes(std::span<std::uint8_t> out);

}  // namespace kestrine::smb
