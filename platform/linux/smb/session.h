#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/smb/connection.h"
#include "platform/linux/smb/security_context.h"

namespace kestrine::smb {

// A tree connect: one share of the session's server.
struct Tree {
  std::uint32_t treeId = 0;
  std::string path;  // "\\server\share"
  std::uint32_t shareFlags = 0;
  std::uint32_t capabilities = 0;
  // Paths on the share go out as DFS paths ([MS-SMB2] 3.2.4.3): the share
  // is in a DFS namespace.
  bool dfs() const { return (shareFlags & SMB2_SHAREFLAG_DFS) != 0; }
};

// What a session was set up with, for tests and messages.
struct SessionInfo {
  std::uint16_t dialect = 0;
  std::uint16_t cipher = 0;  // 0: signed only
  std::uint16_t signingAlgorithm = 0;
  std::uint16_t sessionFlags = 0;
};

// The dialects this client offers, newest last ([MS-SMB2] 2.2.3).
inline const std::vector<std::uint16_t> kAllDialects = {kDialect202, kDialect210, kDialect300,
                                                        kDialect302, kDialect311};

// One signed-in session on its own connection ([MS-SMB2] 3.2.4.2): negotiate,
// sign in over the security context until it is complete (mutual
// authentication), the keys derived, every later message signed and, where
// the server can encrypt, sealed. Never a guest or anonymous session.
class Session {
 public:
  // Negotiates and signs in; throws SignInError, StatusError, ReplyRefused,
  // MalformedReply or TransportError. `dialects` is for tests.
  static std::unique_ptr<Session> open(std::unique_ptr<Transport> transport,
                                       SecurityContext& context, const std::string& server,
                                       Deadline deadline,
                                       const std::vector<std::uint16_t>& dialects = kAllDialects);

  Connection& connection() { return connection_; }
  const std::string& server() const { return server_; }
  const SessionInfo& info() const { return info_; }

  // TREE_CONNECT to "\\server\share" ([MS-SMB2] 3.2.4.2.4); with 3.0 and
  // 3.0.2 the first one also validates the negotiation (3.2.5.5).
  Tree connectTree(const std::string& share, Deadline deadline);

 private:
  explicit Session(std::unique_ptr<Transport> transport, std::string server);
  void negotiate(const std::vector<std::uint16_t>& dialects, Deadline deadline);
  void signIn(SecurityContext& context, Deadline deadline);
  void validateNegotiate(const Tree& tree, Deadline deadline);

  Connection connection_;
  std::string server_;
  SessionInfo info_;
  // What the negotiation sent and got, for its validation and the 3.1.1 keys.
  std::vector<std::uint16_t> offered_;
  std::array<std::uint8_t, 16> clientGuid_{};
  std::uint32_t clientCapabilities_ = 0;
  std::array<std::uint8_t, 16> serverGuid_{};
  std::uint16_t serverSecurityMode_ = 0;
  std::uint32_t serverCapabilities_ = 0;
  std::array<std::uint8_t, 64> preauthHash_{};
  bool validated_ = false;
};

}  // namespace kestrine::smb
