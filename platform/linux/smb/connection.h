#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/smb/message_security.h"
#include "platform/linux/smb/messages.h"
#include "platform/linux/smb/transport.h"

namespace kestrine::smb {

// One request; the connection writes its header.
struct Request {
  std::uint16_t command = 0;
  Bytes body;
  std::uint32_t treeId = 0;
  std::uint16_t creditCharge = 1;
  bool dfs = false;  // SMB2_FLAGS_DFS_OPERATIONS: the name is a DFS path
};

// One final response, checked as the connection's rules say.
struct Response {
  Header header;
  Bytes message;  // from its header to its end, without a compound's padding
  WireReader reader() const {
    return WireReader(message, std::string("the ") + commandName(header.command) + " response");
  }
};

// The requests of one flight: a compound, or several sent before any answer
// is awaited.
struct Ticket {
  std::vector<std::uint64_t> messageIds;
  Bytes sent;  // the messages as sent (before sealing), for the pre-auth hash
};

// One SMB2 connection to a file server over a Transport ([MS-SMB2] 3.2):
// message IDs and credits, requests sent alone or compounded, several in
// flight at once, replies matched by MessageId, interim replies of async
// requests, and the session's signing and sealing on the way out and its
// checks on the way in. Every call ends by its deadline. Anything that puts
// the connection's state in doubt (a reply refused, a timeout, a lost
// connection) closes it: every later call fails at once with that reason.
class Connection {
 public:
  explicit Connection(std::unique_ptr<Transport> transport);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The dialect, once negotiated: 2.0.2 sends no CreditCharge.
  void setDialect(std::uint16_t dialect) { dialect_ = dialect; }
  std::uint16_t dialect() const { return dialect_; }
  // The session ID that requests carry (SESSION_SETUP learns it).
  void setSessionId(std::uint64_t sessionId) { sessionId_ = sessionId; }
  std::uint64_t sessionId() const { return sessionId_; }
  // From now on requests are signed, and every reply must be signed or, with
  // `seal`, encrypted (replies to requests sent before stay unchecked: the
  // sign-in checks its own) ([MS-SMB2] 3.2.4.1.1, 3.2.4.1.8, 3.2.5.1.3).
  void secure(std::unique_ptr<MessageSecurity> security, bool seal);
  const MessageSecurity* security() const { return security_.get(); }
  bool sealing() const { return seal_; }

  // Sends the requests as one compound when `related` (each acting on what
  // the one before opened, [MS-SMB2] 3.2.4.1.4), else as one unrelated
  // compound, and returns at once.
  Ticket submit(const std::vector<Request>& requests, bool related, Deadline deadline);
  // The final responses of a ticket's requests, in their order.
  std::vector<Response> await(const Ticket& ticket, Deadline deadline);
  std::vector<Response> exchange(const std::vector<Request>& requests, bool related,
                                 Deadline deadline) {
    return await(submit(requests, related, deadline), deadline);
  }
  // The replies to these requests are not awaited: they are dropped when
  // they come (a CLOSE whose outcome changes nothing).
  void discardReplies(const Ticket& ticket);

  // How many more credits the server has granted than are in use.
  std::uint32_t credits() const { return credits_; }
  bool usable() const { return !broken_; }
  // Closes the connection; later calls fail with `reason`.
  void close(const std::string& reason);

 private:
  struct Pending {
    std::uint16_t command = 0;
    bool checked = true;  // signed or sealed, as the session requires
    bool discard = false;
    std::optional<Response> final;
  };

  void receiveOne(Deadline deadline);
  void accept(ByteView message, bool sealed);
  void throwIfBroken() const;
  Response take(std::uint64_t messageId);
  void waitFor(std::uint64_t messageId, Deadline deadline);

  std::unique_ptr<Transport> transport_;
  std::uint16_t dialect_ = 0;
  std::uint64_t sessionId_ = 0;
  std::unique_ptr<MessageSecurity> security_;
  bool seal_ = false;
  std::uint64_t nextMessageId_ = 0;
  std::uint32_t credits_ = 1;  // [MS-SMB2] 3.2.4.1.5: one to start with
  std::map<std::uint64_t, Pending> pending_;
  bool broken_ = false;
  std::string brokenReason_;
};

}  // namespace kestrine::smb
