#include "platform/linux/smb/message_security.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/smb/messages.h"

namespace kestrine::smb {
namespace {

ByteView text(std::string_view label) {
  // The labels and contexts of [MS-SMB2] 3.1.4.2 end in their zero byte.
  return ByteView(reinterpret_cast<const std::uint8_t*>(label.data()), label.size() + 1);
}

bool is256(std::uint16_t cipher) {
  return cipher == AES_256_CCM || cipher == AES_256_GCM;
}
Aead aeadOf(std::uint16_t cipher) {
  return cipher == AES_128_CCM || cipher == AES_256_CCM ? Aead::kCcm : Aead::kGcm;
}
std::size_t nonceSize(std::uint16_t cipher) {
  return aeadOf(cipher) == Aead::kCcm ? 11 : 12;
}

}  // namespace

// [MS-SMB2] 3.2.5.3.1: the session key is the first 16 bytes of the
// context's key, zero-padded, or all of it for the 256-bit ciphers of 3.1.1;
// 3.0 and 3.0.2 derive with fixed labels and contexts, 3.1.1 with the
// pre-authentication hash as context.
MessageSecurity::MessageSecurity(std::uint16_t dialect, std::uint16_t signingAlgorithm,
                                 std::uint16_t cipher, ByteView gssKey, ByteView preauthHash)
    : dialect_(dialect), signingAlgorithm_(signingAlgorithm), cipher_(cipher) {
  const bool fullKey = dialect == kDialect311 && is256(cipher);
  SecretBytes sessionKey(fullKey ? std::max<std::size_t>(gssKey.size(), 16) : 16);
  std::copy_n(gssKey.begin(), std::min(gssKey.size(), sessionKey.size()), sessionKey.data());
  if (!isSmb3(dialect)) {
    signingAlgorithm_ = HMAC_SHA256;
    cipher_ = 0;
    signingKey_ = std::move(sessionKey);
    return;
  }
  const std::size_t cipherKeySize = is256(cipher) ? 32 : 16;
  if (dialect == kDialect311) {
    signingKey_ = kdfCounterHmacSha256(sessionKey.view(), text("SMBSigningKey"), preauthHash, 16);
    if (cipher != 0) {
      encryptionKey_ = kdfCounterHmacSha256(sessionKey.view(), text("SMBC2SCipherKey"), preauthHash,
                                            cipherKeySize);
      decryptionKey_ = kdfCounterHmacSha256(sessionKey.view(), text("SMBS2CCipherKey"), preauthHash,
                                            cipherKeySize);
    }
  } else {
    signingAlgorithm_ = AES_CMAC;
    signingKey_ = kdfCounterHmacSha256(sessionKey.view(), text("SMB2AESCMAC"), text("SmbSign"), 16);
    if (cipher != 0) {
      encryptionKey_ =
          kdfCounterHmacSha256(sessionKey.view(), text("SMB2AESCCM"), text("ServerIn "), 16);
      decryptionKey_ =
          kdfCounterHmacSha256(sessionKey.view(), text("SMB2AESCCM"), text("ServerOut"), 16);
    }
  }
  randomBytes(nonceSalt_);
}

// [MS-SMB2] 3.1.4.1.
Mac MessageSecurity::signature(ByteView message) const {
  Bytes copy(message.begin(), message.end());
  std::fill_n(copy.begin() + kSignatureOffset, kSignatureSize, 0);
  switch (signingAlgorithm_) {
    case HMAC_SHA256: {
      const auto full = hmacSha256(signingKey_.view(), copy);
      Mac mac{};
      std::copy_n(full.begin(), mac.size(), mac.begin());
      return mac;
    }
    case AES_GMAC: {
      // MessageId, then a bit for a reply from the server and one for CANCEL.
      const WireReader header(message, "a signed message");
      std::array<std::uint8_t, 12> nonce{};
      Bytes id(8);
      patchU64(id, 0, header.u64(24));
      std::copy(id.begin(), id.end(), nonce.begin());
      std::uint32_t bits = 0;
      if (header.u32(16) & SMB2_FLAGS_SERVER_TO_REDIR) bits |= 1;
      if (header.u16(12) == SMB2_CANCEL) bits |= 2;
      nonce[8] = static_cast<std::uint8_t>(bits);
      return aesGmac(signingKey_.view(), nonce, copy);
    }
    default:
      return aesCmac(signingKey_.view(), copy);
  }
}

void MessageSecurity::sign(std::span<std::uint8_t> message) const {
  if (message.size() < kHeaderSize) throw std::invalid_argument("signing less than a header");
  message[16] |= SMB2_FLAGS_SIGNED;
  const Mac mac = signature(message);
  std::copy(mac.begin(), mac.end(), message.begin() + kSignatureOffset);
}

bool MessageSecurity::verify(ByteView message) const {
  if (message.size() < kHeaderSize || !(message[16] & SMB2_FLAGS_SIGNED)) return false;
  const Mac expected = signature(message);
  return CRYPTO_memcmp(expected.data(), message.data() + kSignatureOffset, kSignatureSize) == 0;
}

// [MS-SMB2] 3.1.4.3: a nonce never used twice with this key: a counter, and a
// random part fixed for the session.
Bytes MessageSecurity::seal(ByteView messages, std::uint64_t sessionId) {
  if (!canSeal()) throw std::logic_error("sealing on a session without a cipher");
  TransformHeader header;
  const std::size_t size = nonceSize(cipher_);
  Bytes counter(8);
  patchU64(counter, 0, ++nonceCounter_);
  std::copy(counter.begin(), counter.end(), header.nonce.begin());
  std::copy_n(nonceSalt_.begin(), size - 8, header.nonce.begin() + 8);
  header.originalMessageSize = static_cast<std::uint32_t>(messages.size());
  header.flags = 0x0001;
  header.sessionId = sessionId;
  WireWriter out;
  encodeTransformHeader(out, header);
  Bytes sealed = out.take();
  Mac tag{};
  const Bytes ciphertext =
      aeadEncrypt(aeadOf(cipher_), encryptionKey_.view(), ByteView(header.nonce).first(size),
                  ByteView(sealed).subspan(kTransformAadOffset), messages, tag);
  std::copy(tag.begin(), tag.end(), sealed.begin() + 4);
  sealed.insert(sealed.end(), ciphertext.begin(), ciphertext.end());
  return sealed;
}

// [MS-SMB2] 3.2.5.1.1.1.
Bytes MessageSecurity::unseal(ByteView message, std::uint64_t sessionId) const {
  if (!canSeal()) throw ReplyRefused("an encrypted reply on a session that does not encrypt");
  const WireReader in(message, "an encrypted reply");
  const TransformHeader header = decodeTransformHeader(in);
  if (header.flags != 0x0001) in.fail("its TRANSFORM_HEADER is not marked Encrypted");
  if (header.sessionId != sessionId) {
    throw ReplyRefused("an encrypted reply for another session");
  }
  const ByteView ciphertext = message.subspan(kTransformHeaderSize);
  if (header.originalMessageSize != ciphertext.size()) {
    in.fail("OriginalMessageSize " + std::to_string(header.originalMessageSize) +
            " is not the size of what it carries (" + std::to_string(ciphertext.size()) + ")");
  }
  if (ciphertext.size() < kHeaderSize) in.fail("it carries less than an SMB2 header");
  Bytes plain;
  if (!aeadDecrypt(aeadOf(cipher_), decryptionKey_.view(),
                   ByteView(header.nonce).first(nonceSize(cipher_)),
                   message.subspan(kTransformAadOffset, kTransformHeaderSize - kTransformAadOffset),
                   ciphertext, header.signature, plain)) {
    throw ReplyRefused(
        "an encrypted reply that does not decrypt with the session's key (altered on the way?)");
  }
  return plain;
}

}  // namespace kestrine::smb
