#pragma once

#include <string>

#include "platform/directory.h"

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
  // The server's name as the administrator knows it ("dc1.example.com"),
  // once a connection has been opened; "" when it has none to tell.
  virtual std::string serverName() const { return {}; }
};

}  // namespace kestrine
