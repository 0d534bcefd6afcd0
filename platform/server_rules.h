#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/network_wait.h"

namespace kestrine {

// How long a server may keep a run waiting: the directory and every file
// server alike.
struct ConnectionSettings {
  // The longest wait for the server: to connect, to bind, for each request.
  std::chrono::seconds timeout{30};
  // A server that did not answer in time, or to which no new connection could
  // be opened, is not asked again for this long: its calls fail at once.
  std::chrono::seconds retryAfter{30};
  // A directory connection unused for longer is checked with a request that
  // changes nothing before a change is sent on it.
  std::chrono::seconds idleCheckAfter{60};
};

// Which server a reason names.
inline constexpr const char* kDomainControllerRole = "the domain controller";
inline constexpr const char* kFileServerRole = "the file server";

// The reason given for a call the server did not answer in time: "the domain
// controller did not answer within 30 s".
std::string noAnswerReason(const ConnectionSettings& settings,
                           const char* server = kDomainControllerRole);
// The reason given for a call not made for that: "... did not answer within
// 30 s; not asked again for 30 s".
std::string heldReason(const ConnectionSettings& settings,
                       const char* server = kDomainControllerRole);

// How one try of a call ended, for its connection.
enum class Reply {
  kAnswered,  // the server answered, with a result or an error
  kLost,      // the connection was closed or reset on the way
  kNoAnswer,  // nothing came within the timeout
};

// The rules every server is held to, one object per server. A try whose
// connection was lost is made once more, on a new connection, when the call
// may be repeated; a try that got no answer is not, and the server then counts
// as unreachable for `retryAfter`: no call is made to it meanwhile, and the
// first one after that tries again. So a server that stops answering costs one
// timeout per `retryAfter`, not one per call. The tries run through the
// NetworkWait, if there is one.
class ServerRules {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit ServerRules(ConnectionSettings settings, NetworkWait* wait = nullptr,
                       Clock clock = &std::chrono::steady_clock::now);

  const ConnectionSettings& settings() const { return settings_; }
  // Whether the server counts as unreachable: no call is to be made now.
  bool held() const;
  // Counts the server as unreachable for `retryAfter` from now.
  void hold();
  // Makes a call by its tries under these rules and returns the last try's
  // reply; whatever a try throws ends the call.
  Reply call(bool repeatable, const std::function<Reply()>& attempt);

 private:
  ConnectionSettings settings_;
  NetworkWait* wait_;
  Clock clock_;
  std::optional<std::chrono::steady_clock::time_point> heldUntil_;
};

}  // namespace kestrine
