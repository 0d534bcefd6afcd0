#include "platform/linux/smb/tcp_transport.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/linux/kerberos_ticket.h"

namespace kestrine::smb {

namespace {

constexpr const char* kSending = "send to ";
constexpr const char* kReceiving = "receive from ";
constexpr std::size_t kFrameHeader = 4;
constexpr std::size_t kLongestFrame = 0xFFFFFF;  // 24 bits of length

// A connect that failed: nothing listened there or could be reached, unless
// the system's own wait ran out first.
TransportFailure connectFailure(int error) {
  return error == ETIMEDOUT ? TransportFailure::kTimedOut : TransportFailure::kRefused;
}

std::string hex(unsigned byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

TcpTransport::TcpTransport(OwnedSocket socket, std::string server)
    : socket_(std::move(socket)), server_(std::move(server)) {}

void TcpTransport::send(std::span<const std::uint8_t> message, Deadline deadline) {
  checkUsable(kSending);
  if (message.size() > kLongestFrame) {
    throw std::length_error("an SMB2 message of " + std::to_string(message.size()) +
                            " bytes does not fit a direct TCP frame");
  }
  const std::uint8_t header[kFrameHeader] = {0, static_cast<std::uint8_t>(message.size() >> 16),
                                             static_cast<std::uint8_t>(message.size() >> 8),
                                             static_cast<std::uint8_t>(message.size())};
  const std::size_t total = kFrameHeader + message.size();
  for (std::size_t sent = 0; sent < total;) {
    iovec parts[2];
    std::size_t count = 0;
    if (sent < kFrameHeader) {
      parts[count++] = {const_cast<std::uint8_t*>(header) + sent, kFrameHeader - sent};
    }
    const std::size_t body = sent < kFrameHeader ? 0 : sent - kFrameHeader;
    if (body < message.size()) {
      parts[count++] = {const_cast<std::uint8_t*>(message.data()) + body, message.size() - body};
    }
    msghdr frame{};
    frame.msg_iov = parts;
    frame.msg_iovlen = count;
    const ssize_t n = sendmsg(socket_.get(), &frame, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      await(POLLOUT, deadline, kSending, sent > 0);
    } else if (errno != EINTR) {
      failWith(errno, kSending, sent > 0);
    }
  }
}

std::vector<std::uint8_t> TcpTransport::receive(Deadline deadline) {
  checkUsable(kReceiving);
  std::uint8_t header[kFrameHeader];
  readFully(header, kFrameHeader, deadline, false);
  if (header[0] != 0) {
    fail(
        TransportFailure::kLost, kReceiving,
        "the server sent a frame that is not direct TCP (its first byte is " + hex(header[0]) + ")",
        true);
  }
  const std::size_t size = std::size_t{header[1]} << 16 | std::size_t{header[2]} << 8 | header[3];
  if (size == 0) fail(TransportFailure::kLost, kReceiving, "the server sent an empty frame", true);
  if (size > kMaxMessageSize) {
    fail(TransportFailure::kLost, kReceiving,
         "the server sent a message of " + std::to_string(size) + " bytes, more than the " +
             std::to_string(kMaxMessageSize) + " the client takes",
         true);
  }
  std::vector<std::uint8_t> message(size);
  readFully(message.data(), size, deadline, true);
  return message;
}

void TcpTransport::shutdown() {
  shutDown_ = true;
  ::shutdown(socket_.get(), SHUT_RDWR);
}

void TcpTransport::readFully(std::uint8_t* data, std::size_t size, Deadline deadline,
                             bool started) {
  for (std::size_t got = 0; got < size;) {
    const ssize_t n = recv(socket_.get(), data + got, size - got, 0);
    const bool inMessage = started || got > 0;
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      fail(TransportFailure::kLost, kReceiving,
           inMessage ? "the server closed the connection in the middle of a message"
                     : "the server closed the connection",
           inMessage);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      await(POLLIN, deadline, kReceiving, inMessage);
    } else if (errno != EINTR) {
      failWith(errno, kReceiving, inMessage);
    }
  }
}

void TcpTransport::await(short events, Deadline deadline, const char* doing, bool started) {
  for (;;) {
    if (shutDown_) fail(TransportFailure::kLost, doing, "", started);
    const auto now = Clock::now();
    if (now >= deadline) {
      fail(TransportFailure::kTimedOut, doing,
           events == POLLIN ? "no answer before the deadline"
                            : "the server took nothing more before the deadline",
           started);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd socket{socket_.get(), events, 0};
    // Readiness, an error or a hang-up: the next send or receive tells which.
    const int rc = poll(&socket, 1, static_cast<int>(std::min<decltype(wait)>(wait, INT_MAX)));
    if (rc > 0) return;
    if (rc < 0 && errno != EINTR) failWith(errno, doing, started);
  }
}

void TcpTransport::fail(TransportFailure failure, const char* doing, const std::string& reason,
                        bool started) {
  if (started) outOfStep_ = true;
  // Whatever a call cut short by shutdown() met on its way out, that was the cause.
  if (shutDown_) {
    throw TransportError(TransportFailure::kLost,
                         doing + server_ + ": the connection was shut down");
  }
  throw TransportError(failure, doing + server_ + ": " + reason);
}

void TcpTransport::failWith(int error, const char* doing, bool started) {
  fail(TransportFailure::kLost, doing, std::strerror(error), started);
}

void TcpTransport::checkUsable(const char* doing) const {
  if (shutDown_) {
    throw TransportError(TransportFailure::kLost,
                         doing + server_ + ": the connection was shut down");
  }
  if (outOfStep_) {
    throw TransportError(
        TransportFailure::kLost,
        doing + server_ + ": the connection was given up after a message was cut short");
  }
}

std::unique_ptr<Transport> connectTcp(const std::string& server, std::uint16_t port,
                                      Deadline deadline) {
  const std::string doing = "connect to " + server + " port " + std::to_string(port) + ": ";
  if (namesAnAddress(server))
    throw TransportError(TransportFailure::kNotFound, doing + kServerByAddress);
  try {
    TcpConnection connection = connectToFirstOf({{server, port}}, deadline);
    return std::make_unique<TcpTransport>(std::move(connection.socket), server);
  } catch (const TcpConnectError& error) {
    const EndpointFailure& failure = error.failures().front();
    if (error.timedOut()) {
      throw TransportError(TransportFailure::kTimedOut, doing + "no answer before the deadline");
    }
    if (failure.lookupError == EAI_AGAIN) {
      throw TransportError(TransportFailure::kTimedOut,
                           doing + "the name service did not answer (" + failure.reason + ")");
    }
    if (failure.lookupError != 0) {
      throw TransportError(TransportFailure::kNotFound,
                           doing + "no server of that name was found (" + failure.reason + ")");
    }
    throw TransportError(connectFailure(failure.error), doing + failure.reason);
  }
}

}  // namespace kestrine::smb
