#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "platform/directory.h"
#include "platform/server_rules.h"

namespace kestrine {

// A failure that left the connection unusable: the server could not be
// reached, closed the connection or did not answer in time.
class ConnectionLost : public DirectoryError {
 public:
  using DirectoryError::DirectoryError;
};

// A failure for want of an answer within the timeout; the connection is given
// up, and the server is not asked again for a while.
class NoAnswer : public ConnectionLost {
 public:
  using ConnectionLost::ConnectionLost;
};

// One connection to the directory server as the platform's LDAP library
// makes it. Failures are DirectoryErrors; ConnectionLost when the connection
// cannot be used any more, NoAnswer when the server did not answer in time.
class DirectoryLink {
 public:
  virtual ~DirectoryLink() = default;
  // Finds the server, connects and binds, in place of any earlier connection.
  virtual void open() = 0;
  // Drops the connection; it may be dead already.
  virtual void close() = 0;
  // Whether the server has closed the connection or told that it will, seen
  // without waiting: nothing is due from it while no request is out.
  virtual bool closedByPeer() = 0;
  // A request that changes nothing and that every server answers.
  virtual void probe() = 0;
};

// When to open a new connection and when a request may be sent again: the
// rules of every server (ServerRules) applied to the directory.
//
// A request runs on an open connection; one found closed by the server
// beforehand is replaced first, so an idle drop costs no request. A read
// whose connection is lost on the way runs once more on a new one; a write
// does not, as whether the server applied it is unknown. A request that gets
// no answer in time is not sent again, and when that happens, or no new
// connection can be opened, requests fail at once for `retryAfter`.
class DirectoryConnection {
 public:
  using Clock = ServerRules::Clock;

  DirectoryConnection(DirectoryLink& link, ConnectionSettings settings, NetworkWait* wait = nullptr,
                      Clock clock = &std::chrono::steady_clock::now);
  DirectoryConnection(const DirectoryConnection&) = delete;
  DirectoryConnection& operator=(const DirectoryConnection&) = delete;

  // Runs a request that changes nothing.
  void read(const std::function<void()>& request);
  // Runs a request that changes the directory.
  void write(const std::function<void()>& request);

  const ConnectionSettings& settings() const { return rules_.settings(); }

 private:
  void call(bool change, const std::function<void()>& request);
  void openNew();
  // How a request ended for the connection; a failure that ended the
  // connection is kept in `failure`, the server's answer is thrown.
  Reply send(const std::function<void()>& request, std::exception_ptr& failure);
  void drop();

  DirectoryLink& link_;
  ServerRules rules_;
  Clock clock_;
  bool open_ = false;
  // Why requests fail while the server is held.
  std::exception_ptr heldFailure_;
  std::chrono::steady_clock::time_point lastAnswer_;
};

}  // namespace kestrine
