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
  // be opened, is not asked again for this long.
  std::chrono::seconds retryAfter{30};
  // A directory connection unused for longer is checked with a request that
  // changes nothing before a change is sent on it.
  std::chrono::seconds idleCheckAfter{60};
  // Until a server has gone this long without an answer, counted from its
  // first unanswered request, a call waits for the end of its hold and asks
  // it again; after that, its calls fail at once while it is held.
  std::chrono::seconds giveUpAfter{120};
};

// Which server a reason names.
inline constexpr const char* kDomainControllerRole = "the domain controller";
inline constexpr const char* kFileServerRole = "the file server";

// The reason given for a call the server did not answer in time: "the domain
// controller did not answer within 30 s".
std::string noAnswerReason(const ConnectionSettings& settings,
                           const char* server = kDomainControllerRole);
// The same for a write whose answer was awaited for `waited`.
std::string noAnswerReason(std::chrono::seconds waited, const char* server);
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
// as unreachable for `retryAfter`. A call meanwhile first waits for that hold
// to end, the windows answering and the administrator told whom the run waits
// for, and then asks once: a server that pauses costs a pause. Once the
// server has gone `giveUpAfter` without an answer, its calls fail at once
// while it is held, and the first one after each hold asks it again: a
// server that has stopped costs one timeout per `retryAfter`, not one per
// call. An answer makes it a server like any other again. The tries and the
// waits run through the NetworkWait, if there is one.
class ServerRules {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit ServerRules(ConnectionSettings settings, NetworkWait* wait = nullptr,
                       Clock clock = &std::chrono::steady_clock::now);

  const ConnectionSettings& settings() const { return settings_; }
  // The server's name as the administrator knows it ("dc1.example.com"), for
  // the text shown while a call waits for it; its role until named.
  void name(std::string server) { name_ = std::move(server); }
  // Whether calls are to fail at once now: the server is held, and has gone
  // `giveUpAfter` without an answer.
  bool held() const;
  // Whether a request has gone unanswered since the server last answered.
  bool silent() const { return unansweredSince_.has_value(); }
  // Counts the server as unreachable for `retryAfter` from now; the first time
  // since it last answered starts the count towards `giveUpAfter`, from the
  // start of the call in hand.
  void hold();
  // Makes a call by its tries under these rules and returns the last try's
  // reply; whatever a try throws ends the call. While the server is held and
  // not given up, the hold is waited out first.
  Reply call(bool repeatable, const std::function<Reply()>& attempt);
  // How long a try of the call in hand awaits the answer to a write it is
  // about to send, on the same connection: the timeout, or longer while the
  // server has not gone `giveUpAfter` without an answer (counted as hold()
  // counts), until then. A write is never sent twice, as the first may have
  // been applied; its late answer tells what became of it. Past the timeout
  // the wait names the server to the administrator.
  std::chrono::seconds writeWait();

 private:
  std::string serverName() const;

  ConnectionSettings settings_;
  NetworkWait* wait_;
  Clock clock_;
  std::string name_;
  std::optional<std::chrono::steady_clock::time_point> heldUntil_;
  // When the first request went out that has had no answer since.
  std::optional<std::chrono::steady_clock::time_point> unansweredSince_;
  // It had gone `giveUpAfter` without an answer when it was last held.
  bool givenUp_ = false;
  std::optional<std::chrono::steady_clock::time_point> callStarted_;
};

}  // namespace kestrine
