#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrine::smb {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// How a connection to a file server failed, as the server rules need to know.
enum class TransportFailure {
  kNotFound,  // the name has no address
  kRefused,   // nothing listens there, or the network cannot reach it
  kLost,      // the connection was closed or reset on the way
  kTimedOut,  // nothing came before the deadline
};

class TransportError : public std::runtime_error {
 public:
  TransportError(TransportFailure failure, const std::string& what)
      : std::runtime_error(what), failure_(failure) {}
  TransportFailure failure() const { return failure_; }

 private:
  TransportFailure failure_;
};

// The longest message a connection takes from a server: the client asks for
// no more than 8 MiB in one reply, and the rest is room for the headers of a
// compound and of encryption. A frame that claims more is refused before
// anything is read into memory.
inline constexpr std::size_t kMaxMessageSize = (8u << 20) + (64u << 10);

// One connection to a file server, carrying SMB2 messages over direct TCP
// ([MS-SMB2] 2.1): each message is framed by a zero byte and its length in
// 24 bits, big-endian.
class Transport {
 public:
  virtual ~Transport() = default;
  // Sends one message; the frame header is added here.
  virtual void send(std::span<const std::uint8_t> message, Deadline deadline) = 0;
  // The next message, without its frame header.
  virtual std::vector<std::uint8_t> receive(Deadline deadline) = 0;
  // Ends the connection at once, from any thread: a send or receive in
  // progress, and every later one, fails with kLost.
  virtual void shutdown() = 0;
};

// Connects to `server`, a host name, on `port` (445): the name lookup and the
// connect together end by `deadline`.
std::unique_ptr<Transport> connectTcp(const std::string& server, std::uint16_t port,
                                      Deadline deadline);

}  // namespace kestrine::smb
