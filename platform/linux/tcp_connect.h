#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrine {

// A socket (or any descriptor), closed with its owner unless released.
class OwnedSocket {
 public:
  explicit OwnedSocket(int fd = -1) : fd_(fd) {}
  ~OwnedSocket();
  OwnedSocket(OwnedSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedSocket& operator=(OwnedSocket&& other) noexcept;
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A server's host name (or address) and TCP port.
struct TcpEndpoint {
  std::string host;
  std::uint16_t port = 0;
};

// Why one endpoint gave no connection.
struct EndpointFailure {
  int lookupError = 0;  // the name lookup's EAI_* code; 0 when it found addresses
  int error = 0;        // the errno of the last failed connect (or of EAI_SYSTEM)
  std::string reason;   // in words; "" when the endpoint was never (fully) tried
};

// No endpoint could be connected to.
class TcpConnectError : public std::runtime_error {
 public:
  TcpConnectError(bool timedOut, std::vector<EndpointFailure> failures);
  // The deadline passed with a name lookup or a connect attempt unfinished.
  bool timedOut() const { return timedOut_; }
  // One per endpoint, in the order given.
  const std::vector<EndpointFailure>& failures() const { return failures_; }

 private:
  bool timedOut_;
  std::vector<EndpointFailure> failures_;
};

struct TcpConnection {
  OwnedSocket socket;    // connected, non-blocking, close-on-exec
  std::size_t endpoint;  // which of the endpoints answered
};

// A server that has not answered by then gets company: the next address is
// tried beside it.
inline constexpr std::chrono::milliseconds kNextAddressAfter{1000};

// A TCP connection to the first of `endpoints` that answers, all by
// `deadline`, the name lookups included: they run on threads of their own,
// which are left to finish alone when the deadline passes first. The
// endpoints' addresses are tried in order, each next one `stagger` after the
// one before while the earlier ones may still answer. Throws TcpConnectError.
TcpConnection connectToFirstOf(const std::vector<TcpEndpoint>& endpoints,
                               std::chrono::steady_clock::time_point deadline,
                               std::chrono::milliseconds stagger = kNextAddressAfter);

}  // namespace kestrine
