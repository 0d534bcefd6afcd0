#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "platform/directory_link.h"
#include "platform/server_rules.h"

namespace kestrine {

// When to open a new connection and when a request may be sent again: the
// rules of every server (ServerRules) applied to the directory.
//
// A request runs on an open connection; one found closed by the server
// beforehand is replaced first, so an idle drop costs no request. A read
// whose connection is lost on the way runs once more on a new one; a write
// does not, as whether the server applied it is unknown: its answer is
// awaited longer instead (writeWait()). A request that gets no answer in time
// is not sent again; when that happens, or no new
// connection can be opened, the server is held (see ServerRules): the next
// request waits for the hold to end, or once the server has been given up,
// fails at once with the reason.
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
  // Runs a change and a read in one round trip: the change is sent, then the
  // read, and only then is each answer awaited. The change fails the call as
  // write() would; the read only gives nothing when it fails, and a
  // connection lost on its way alone is replaced before the next request.
  void writeAndRead(const std::function<void()>& sendChange, const std::function<void()>& sendRead,
                    const std::function<void()>& awaitChange,
                    const std::function<void()>& awaitRead);

  const ConnectionSettings& settings() const { return rules_.settings(); }
  // Within a write: how long to await its answer (ServerRules::writeWait).
  std::chrono::seconds writeWait() { return rules_.writeWait(); }

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
