#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/linux/smb/message_security.h"
#include "platform/linux/smb/messages.h"
#include "platform/linux/smb/security_context.h"
#include "platform/linux/smb/security_descriptor.h"
#include "platform/linux/smb/transport.h"

namespace kestrine::smb::test {

// A file server in memory that speaks just enough SMB2 to drive the client:
// negotiate (with 3.1.1's contexts and pre-auth hash), a one-step sign-in,
// trees, and folders and files with security descriptors. Its transport
// answers each send at once; hooks alter replies before (`alter`) or after
// (`tamper`) they are signed and sealed.
class FakeServer {
 public:
  struct Options {
    std::uint16_t dialect = kDialect311;
    std::uint16_t cipher = AES_128_GCM;  // 0: the server cannot encrypt
    std::uint16_t signing = AES_CMAC;
    std::uint16_t sessionFlags = 0;
    std::uint16_t grantedCredits = 512;  // at most, per reply, of what is asked
    bool extdDirectoryInformation = false;
  };
  struct Object {
    std::uint64_t id = 0;
    std::uint32_t attributes = 0;
    std::uint32_t reparseTag = 0;
    Bytes descriptor;
  };

  explicit FakeServer(Options options);
  std::unique_ptr<Transport> transport();

  std::map<std::string, Object> objects;  // by path on the share, "" for its root
  std::set<std::string> dfsLinks;         // opened: STATUS_PATH_NOT_COVERED
  // Called with each reply (command, plain message) before signing.
  std::function<void(std::uint16_t, Bytes&)> alter;
  // Called with each reply as it goes on the wire.
  std::function<void(std::uint16_t, Bytes&)> tamper;
  // Answers this command with STATUS_PENDING first, then the reply.
  std::optional<std::uint16_t> goAsync;
  int sends = 0;  // transport sends
  // Round trips so far: a request sent after the client read a reply of
  // round trip n goes out in round trip n + 1.
  int roundTrips() const { return clock_; }
  std::vector<std::uint16_t> commands;
  bool silent = false;  // answers nothing
  bool closed() const { return shutdown_; }

 private:
  friend class FakeTransport;
  void receive(ByteView wire);
  Bytes handle(const Header& header, const WireReader& request, std::uint32_t& status,
               std::uint32_t& treeId);
  void reply(std::vector<std::pair<Header, Bytes>> replies, bool sealed);
  Bytes seal(Bytes message);
  bool ccm() const { return keys_->cipher() == AES_128_CCM || keys_->cipher() == AES_256_CCM; }

  Options options_;
  std::deque<std::pair<int, Bytes>> outbox_;  // with their round trip
  int clock_ = 0;
  int sending_ = 0;
  std::unique_ptr<MessageSecurity> keys_;
  std::array<std::uint8_t, 64> hash_{};
  std::uint64_t sessionId_ = 0x1122334455667788;
  std::string lastOpen_;
  std::map<std::uint64_t, std::string> handles_;
  std::uint64_t nextHandle_ = 100;
  std::map<std::uint64_t, int> listed_;
  bool shutdown_ = false;
};

// Completes after one token from the server, with a fixed key.
class FakeSecurityContext : public SecurityContext {
 public:
  explicit FakeSecurityContext(bool mutual = true) : mutual_(mutual) {}
  std::vector<std::uint8_t> step(std::span<const std::uint8_t> token, Deadline) override;
  bool complete() const override { return complete_; }
  std::vector<std::uint8_t> sessionKey() const override { return Bytes(16, 0x5A); }

 private:
  bool mutual_;
  bool complete_ = false;
};

}  // namespace kestrine::smb::test
