#include <gtest/gtest.h>

#include "platform/linux/smb/crypto.h"
#include "platform/linux/smb/message_security.h"
#include "platform/linux/smb/messages.h"
#include "test_bytes.h"

namespace kestrine::smb {
namespace {

using test::ascii;
using test::fromHex;

TEST(SmbCrypto, KnownAnswers) {
  // RFC 4231 test case 2; RFC 4493 example 2; the GCM paper's test
  // case 2 (McGrew and Viega).
  EXPECT_EQ(toHex(hmacSha256(ascii("Jefe"), ascii("what do ya want for nothing?"))),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(toHex(aesCmac(fromHex("2b7e151628aed2a6abf7158809cf4f3c"),
                          fromHex("6bc1bee22e409f96e93d7e117393172a"))),
            "070a16b46b4d4144f79bdd9dd04a287c");
  Mac tag{};
  const Bytes zeros(16, 0);
  EXPECT_EQ(toHex(aeadEncrypt(Aead::kGcm, zeros, Bytes(12, 0), {}, zeros, tag)),
            "0388dace60b6a392f328c2b971b2fe78");
  EXPECT_EQ(toHex(tag), "ab6e47d42cec13bdf53a67b21257bddf");
  // Computed independently (Python's cryptography package): an 11-byte
  // nonce as SMB 3 uses it, and GMAC as AES-GCM's tag over additional data.
  const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(toHex(aeadEncrypt(Aead::kCcm, key, fromHex("000102030405060708090a"), ascii("header"),
                              ascii("an SMB2 message"), tag)),
            "5ef205f89b0a035cacfd7bfbfaefaf");
  EXPECT_EQ(toHex(tag), "5eadf27bc286233f901fa6ded6867e10");
  EXPECT_EQ(toHex(aesGmac(key, fromHex("000102030405060708090a0b"), ascii("signed message"))),
            "96dcb0d177181816832874a8330eebf3");
  EXPECT_EQ(toHex(sha512(ascii("ab"), ascii("cd"))).substr(0, 32),
            "d8022f2060ad6efd297ab73dcc5355c9");
}

TEST(SmbCrypto, AeadRefusesWhatWasAltered) {
  const Bytes key(16, 7), nonce(12, 1), aad = ascii("aad");
  for (const Aead mode : {Aead::kCcm, Aead::kGcm}) {
    const ByteView n = ByteView(nonce).first(mode == Aead::kCcm ? 11 : 12);
    Mac tag{};
    Bytes sealed = aeadEncrypt(mode, key, n, aad, ascii("plain text"), tag);
    Bytes out;
    ASSERT_TRUE(aeadDecrypt(mode, key, n, aad, sealed, tag, out));
    EXPECT_EQ(out, ascii("plain text"));
    sealed[3] ^= 1;
    EXPECT_FALSE(aeadDecrypt(mode, key, n, aad, sealed, tag, out));
    sealed[3] ^= 1;
    EXPECT_FALSE(aeadDecrypt(mode, key, n, ascii("AAD"), sealed, tag, out));
  }
}

// The SMB 3.0 example of Microsoft's "SMB 2 and SMB 3 security in Windows 10"
// (signing key), the rest of the keys and 3.1.1's computed independently
// from SP800-108 with Python's hmac.
TEST(SmbCrypto, SessionKeysPerDialect) {
  const Bytes key = fromHex("7cd451825d0450d235424e44ba6e78cc");
  const MessageSecurity smb30(kDialect300, AES_CMAC, AES_128_CCM, key, {});
  EXPECT_EQ(toHex(smb30.signingKey()), "0b7e9c5cac36c0f6ea9ab275298cedce");
  EXPECT_EQ(toHex(smb30.encryptionKey()), "fad27796665b313ebb578f388632b4f7");
  EXPECT_EQ(toHex(smb30.decryptionKey()), "b0f0427f7ceb416d1d9dcc0cd4f99447");

  Bytes hash(64);
  for (std::size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<std::uint8_t>(i);
  Bytes gssKey(32);
  for (std::size_t i = 0; i < gssKey.size(); ++i) gssKey[i] = static_cast<std::uint8_t>(i);
  // Only the first 16 bytes of the context's key count for 128-bit ciphers.
  const MessageSecurity smb311(kDialect311, AES_CMAC, AES_128_GCM, gssKey, hash);
  EXPECT_EQ(toHex(smb311.signingKey()), "f7e5401ecc6e79ef9eab401b05004e4f");
  EXPECT_EQ(toHex(smb311.encryptionKey()), "f1b6250ca4d9f8877e41071f59228ce4");
  EXPECT_EQ(toHex(smb311.decryptionKey()), "99676aedfbfd18e61ca5bb60d502e8f2");
  const MessageSecurity smb311wide(kDialect311, AES_CMAC, AES_256_GCM, gssKey, hash);
  EXPECT_EQ(toHex(smb311wide.encryptionKey()),
            "e568de865ae188f20138931c5423898fc0d5e94fa094b72d474fc56cf5703db6");
  // 2.x signs with the session key itself; a short key is zero-padded.
  const MessageSecurity smb21(kDialect210, HMAC_SHA256, 0, fromHex("0102"), {});
  EXPECT_EQ(toHex(smb21.signingKey()), "01020000000000000000000000000000");
  EXPECT_FALSE(smb21.canSeal());
}

TEST(SmbCrypto, SignatureCoversTheWholeMessage) {
  for (const std::uint16_t algorithm : {HMAC_SHA256, AES_CMAC, AES_GMAC}) {
    const MessageSecurity security(algorithm == HMAC_SHA256 ? kDialect210 : kDialect311, algorithm,
                                   0, Bytes(16, 9), Bytes(64, 1));
    Bytes message(kHeaderSize + 8, 0);
    message[0] = 0xFE;
    security.sign(message);
    EXPECT_TRUE(security.verify(message)) << algorithm;
    message.back() ^= 0x80;
    EXPECT_FALSE(security.verify(message)) << algorithm;
  }
}

}  // namespace
}  // namespace kestrine::smb
