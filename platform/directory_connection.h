#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "platform/directory.h"

namespace kestrine {

// How long the directory may keep a run waiting.
struct ConnectionSettings {
  // The longest wait for the server: to connect, to bind, for each request.
  std::chrono::seconds timeout{30};
  // After a new connection could not be opened, requests fail at once for
  // this long; only then is the server tried again.
  std::chrono::seconds retryAfter{30};
  // A connection unused for longer is checked with a request that changes
  // nothing before a change is sent on it.
  std::chrono::seconds idleCheckAfter{60};
};

// The reason given for a request the server did not answer in time.
std::string noAnswerReason(const ConnectionSettings& settings);

// A failure that left the connection unusable: the server could not be
// reached, closed the connection or did not answer in time.
class ConnectionLost : public DirectoryError {
 public:
  using DirectoryError::DirectoryError;
};

// One connection to the directory server as the platform's LDAP library
// makes it. Failures are DirectoryErrors; ConnectionLost when the connection
// cannot be used any more.
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

// When to open a new connection and when a request may be sent again.
//
// A request runs on an open connection; one found closed by the server
// beforehand is replaced first, so an idle drop costs no request. A read
// whose connection is lost on the way runs once more on a new one; a write
// does not, as whether the server applied it is unknown. When no new
// connection can be opened, requests fail at once with that failure for
// `retryAfter`, so a server that stays away costs one timeout per
// `retryAfter`, not one per request.
class DirectoryConnection {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  DirectoryConnection(DirectoryLink& link, ConnectionSettings settings,
                      Clock clock = &std::chrono::steady_clock::now);
  DirectoryConnection(const DirectoryConnection&) = delete;
  DirectoryConnection& operator=(const DirectoryConnection&) = delete;

  // Runs a request that changes nothing.
  void read(const std::function<void()>& request);
  // Runs a request that changes the directory.
  void write(const std::function<void()>& request);

  const ConnectionSettings& settings() const { return settings_; }

 private:
  void prepare(bool forWrite);
  void openNew();
  void run(const std::function<void()>& request);
  void drop();

  DirectoryLink& link_;
  ConnectionSettings settings_;
  Clock clock_;
  bool open_ = false;
  // The last failure to open and when the next try may be made.
  std::exception_ptr openFailure_;
  std::chrono::steady_clock::time_point retryAt_;
  std::chrono::steady_clock::time_point lastAnswer_;
};

}  // namespace kestrine
