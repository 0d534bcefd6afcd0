#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/smb/transport.h"
#include "platform/linux/tcp_connect.h"

namespace kestrine::smb {

// Direct TCP ([MS-SMB2] 2.1) over a connected non-blocking socket. Every wait
// is a poll() bounded by the caller's deadline. A message cut short on the
// way (a deadline or a failure between its first and last byte) leaves the
// stream out of step: every later call then fails with kLost.
class TcpTransport final : public Transport {
 public:
  TcpTransport(OwnedSocket socket, std::string server);

  void send(std::span<const std::uint8_t> message, Deadline deadline) override;
  std::vector<std::uint8_t> receive(Deadline deadline) override;
  void shutdown() override;

 private:
  // Reads exactly `size` bytes; `started` tells whether part of the message
  // was read before, so that a failure here leaves the stream out of step.
  void readFully(std::uint8_t* data, std::size_t size, Deadline deadline, bool started);
  // Waits until the socket is ready for `events`; throws at the deadline.
  void await(short events, Deadline deadline, const char* doing, bool started);
  [[noreturn]] void fail(TransportFailure failure, const char* doing, const std::string& reason,
                         bool started);
  [[noreturn]] void failWith(int error, const char* doing, bool started);
  void checkUsable(const char* doing) const;

  OwnedSocket socket_;
  std::string server_;
  std::atomic<bool> shutDown_{false};
  bool outOfStep_ = false;
};

}  // namespace kestrine::smb
