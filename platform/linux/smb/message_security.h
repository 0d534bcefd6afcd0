#pragma once

#include <cstdint>

#include "platform/linux/smb/crypto.h"
#include "platform/linux/smb/wire.h"

namespace kestrine::smb {

// A message that must not be believed: a signature missing or wrong, a seal
// that does not open, a plain reply where a sealed one was due. The
// connection it came on is closed.
class ReplyRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A session's keys and what it signs and seals with, derived from the
// security context's key when the sign-in completes ([MS-SMB2] 3.2.5.3.1).
class MessageSecurity {
 public:
  // `gssKey` is the security context's session key at its full length;
  // `preauthHash` the session's pre-authentication integrity hash (3.1.1
  // only); `cipher` 0 when the session cannot encrypt.
  MessageSecurity(std::uint16_t dialect, std::uint16_t signingAlgorithm, std::uint16_t cipher,
                  ByteView gssKey, ByteView preauthHash);

  std::uint16_t dialect() const { return dialect_; }
  std::uint16_t cipher() const { return cipher_; }
  bool canSeal() const { return cipher_ != 0; }

  // Signs one message in place ([MS-SMB2] 3.1.4.1): sets SMB2_FLAGS_SIGNED
  // and writes the signature over the message as it lies, padding included.
  void sign(std::span<std::uint8_t> message) const;
  // True when the message carries SMB2_FLAGS_SIGNED and its signature is the
  // one this session's key gives ([MS-SMB2] 3.1.5.1).
  bool verify(ByteView message) const;

  // One TRANSFORM_HEADER and the encrypted messages ([MS-SMB2] 3.1.4.3).
  Bytes seal(ByteView messages, std::uint64_t sessionId);
  // The messages of an encrypted one ([MS-SMB2] 3.2.5.1.1.1); throws
  // ReplyRefused when it does not open with this session's key.
  Bytes unseal(ByteView message, std::uint64_t sessionId) const;

  // For the known-answer tests.
  ByteView signingKey() const { return signingKey_.view(); }
  ByteView encryptionKey() const { return encryptionKey_.view(); }
  ByteView decryptionKey() const { return decryptionKey_.view(); }

 private:
  Mac signature(ByteView message) const;

  std::uint16_t dialect_;
  std::uint16_t signingAlgorithm_;
  std::uint16_t cipher_;
  SecretBytes signingKey_;
  SecretBytes encryptionKey_;
  SecretBytes decryptionKey_;
  std::uint64_t nonceCounter_ = 0;
  std::array<std::uint8_t, 4> nonceSalt_{};
};

}  // namespace kestrine::smb
