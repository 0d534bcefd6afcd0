#include "tests/integration/tcp_relay.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace kestrine::testing {

namespace {

sockaddr_in socketAddress(const std::string& address, int port) {
  sockaddr_in result{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
  if (inet_pton(AF_INET, address.c_str(), &result.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + address);
  }
  return result;
}

// A socket listening on `address`:`port` (0: a port the system picks).
OwnedSocket listenOn(const std::string& address, int backlog, int& port) {
  OwnedSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local = socketAddress(address, port);
  socklen_t length = sizeof local;
  const int on = 1;
  if (socket.get() < 0 || setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(socket.get(), reinterpret_cast<sockaddr*>(&local), length) != 0 ||
      listen(socket.get(), backlog) != 0 ||
      getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    throw std::runtime_error("listen on " + address + ": " + std::strerror(errno));
  }
  port = ntohs(local.sin_port);
  return socket;
}

void wake(int eventFd) {
  const std::uint64_t one = 1;
  if (write(eventFd, &one, sizeof one) < 0) std::abort();
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  for (std::size_t sent = 0; sent < size;) {
    const ssize_t n = write(fd, data + sent, size - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::uint64_t little(const std::uint8_t* data, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | data[i];
  return value;
}

void putLittle(std::uint8_t* data, std::size_t width, std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i, value >>= 8) data[i] = static_cast<std::uint8_t>(value);
}

constexpr std::size_t kFrameHeader = 4;
constexpr std::size_t kSmb2Header = 64;       // [MS-SMB2] 2.2.1
constexpr std::size_t kTransformHeader = 52;  // [MS-SMB2] 2.2.41
constexpr std::uint32_t kStatusPending = 0x00000103;
constexpr std::uint32_t kAsyncCommand = 0x00000002;  // SMB2_FLAGS_ASYNC_COMMAND

bool isPlain(const std::uint8_t* message, std::size_t size) {
  return size >= kSmb2Header && std::memcmp(message, "\xFESMB", 4) == 0;
}

bool isEncrypted(const std::uint8_t* message, std::size_t size) {
  return size >= kTransformHeader && std::memcmp(message, "\xFDSMB", 4) == 0;
}

std::size_t frameLength(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() < kFrameHeader
             ? 0
             : kFrameHeader + (std::size_t{bytes[1]} << 16 | std::size_t{bytes[2]} << 8 | bytes[3]);
}

// A plain ERROR response ([MS-SMB2] 2.2.2) to a request of `sessionId`.
std::vector<std::uint8_t> plainError(const ReplyTamper& tamper, std::uint64_t messageId,
                                     std::uint64_t sessionId) {
  std::vector<std::uint8_t> frame(kFrameHeader + kSmb2Header + 9, 0);
  std::uint8_t* header = frame.data() + kFrameHeader;
  std::memcpy(header, "\xFESMB", 4);
  putLittle(header + 4, 2, kSmb2Header);           // StructureSize
  putLittle(header + 6, 2, 1);                     // CreditCharge
  putLittle(header + 8, 4, tamper.status);         // Status
  putLittle(header + 12, 2, tamper.errorCommand);  // Command
  putLittle(header + 14, 2, 1);                    // CreditResponse
  putLittle(header + 16, 4, 1);                    // SMB2_FLAGS_SERVER_TO_REDIR
  putLittle(header + 24, 8, messageId);            // MessageId
  putLittle(header + 40, 8, sessionId);            // SessionId
  putLittle(header + kSmb2Header, 2, 9);           // the error's StructureSize
  frame[3] = static_cast<std::uint8_t>(frame.size() - kFrameHeader);
  return frame;
}

}  // namespace

TcpRelay::TcpRelay(const std::string& address, int targetPort)
    : smb_(false),
      listener_(listenOn(address, 16, port_)),
      target_(socketAddress(address, targetPort)),
      wake_(eventfd(0, EFD_CLOEXEC)),
      thread_([this] { loop(); }) {}

TcpRelay::TcpRelay(const std::string& listenAddress, int listenPort,
                   const std::string& targetAddress, int targetPort)
    : smb_(true),
      port_(listenPort),
      listener_(listenOn(listenAddress, 16, port_)),
      target_(socketAddress(targetAddress, targetPort)),
      wake_(eventfd(0, EFD_CLOEXEC)),
      thread_([this] { loop(); }) {}

TcpRelay::~TcpRelay() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake(wake_.get());
  thread_.join();
}

int TcpRelay::connections() {
  std::lock_guard lock(mutex_);
  return connections_;
}

void TcpRelay::forget() {
  std::unique_lock lock(mutex_);
  forgetAsked_ = true;
  wake(wake_.get());
  forgotten_.wait(lock, [this] { return !forgetAsked_; });
}

void TcpRelay::tamper(const ReplyTamper& tamper) {
  std::lock_guard lock(mutex_);
  tampers_.push_back(tamper);
}

int TcpRelay::tampered() {
  std::lock_guard lock(mutex_);
  return tampered_;
}

void TcpRelay::loop() {
  for (;;) {
    std::vector<pollfd> sockets{{wake_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    int wait = -1;
    const auto now = std::chrono::steady_clock::now();
    for (const Pair& pair : pairs_) {
      sockets.push_back({pair.client.get(), POLLIN, 0});
      sockets.push_back({pair.server.get(), POLLIN, 0});  // poll skips -1
      if (!pair.toClient.empty()) {
        const auto due =
            std::chrono::ceil<std::chrono::milliseconds>(pair.toClient.front().due - now);
        const int ms = static_cast<int>(std::max<std::int64_t>(0, due.count()));
        wait = wait < 0 ? ms : std::min(wait, ms);
      }
    }
    if (poll(sockets.data(), sockets.size(), wait) < 0) continue;
    if (sockets[0].revents) {
      std::uint64_t count = 0;
      if (read(wake_.get(), &count, sizeof count) < 0) continue;
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      if (!forgetAsked_) continue;
      for (Pair& pair : pairs_) pair.server = OwnedSocket();
      forgetAsked_ = false;
      forgotten_.notify_all();
      continue;  // the pairs have changed under the poll
    }
    if (sockets[1].revents) accept();
    for (std::size_t i = (sockets.size() - 2) / 2; i-- > 0;) {
      const bool done = (sockets[2 + 2 * i].revents && !pass(pairs_[i], false)) ||
                        (sockets[3 + 2 * i].revents && !pass(pairs_[i], true)) || !flush(pairs_[i]);
      if (done) pairs_.erase(pairs_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void TcpRelay::accept() {
  OwnedSocket client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  OwnedSocket server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (client.get() < 0 || server.get() < 0 ||
      connect(server.get(), reinterpret_cast<const sockaddr*>(&target_), sizeof target_) != 0) {
    return;  // the client sees its connection closed
  }
  Pair& pair = pairs_.emplace_back();
  pair.client = std::move(client);
  pair.server = std::move(server);
  std::lock_guard lock(mutex_);
  ++connections_;
}

bool TcpRelay::pass(Pair& pair, bool fromServer) {
  if (pair.server.get() < 0) {
    // Forgotten: a reset, as from a host that no longer knows the connection.
    const linger reset{1, 0};
    setsockopt(pair.client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return false;
  }
  std::uint8_t buffer[16384];
  const ssize_t got = read((fromServer ? pair.server : pair.client).get(), buffer, sizeof buffer);
  if (got <= 0) return false;
  const auto size = static_cast<std::size_t>(got);
  if (smb_ && fromServer) {
    readReplies(pair, buffer, size);
    return true;
  }
  if (smb_) readRequests(pair, buffer, size);
  return writeAll((fromServer ? pair.client : pair.server).get(), buffer, size);
}

void TcpRelay::readRequests(Pair& pair, const std::uint8_t* data, std::size_t size) {
  pair.fromClient.insert(pair.fromClient.end(), data, data + size);
  for (std::size_t length;
       (length = frameLength(pair.fromClient)) != 0 && pair.fromClient.size() >= length;) {
    const std::uint8_t* message = pair.fromClient.data() + kFrameHeader;
    const std::size_t messageSize = length - kFrameHeader;
    if (isEncrypted(message, messageSize)) {
      pair.lastRequest = pair.nextRequest++;
    }
    // A compound's requests, each with its MessageId and CreditCharge ([MS-SMB2] 3.2.4.1.4).
    for (std::size_t at = 0; isPlain(message + at, messageSize - at);) {
      pair.lastRequest = little(message + at + 24, 8);
      pair.nextRequest = pair.lastRequest + std::max<std::uint64_t>(1, little(message + at + 6, 2));
      const std::size_t next = little(message + at + 20, 4);
      if (next == 0 || next > messageSize - at) break;
      at += next;
    }
    pair.fromClient.erase(pair.fromClient.begin(),
                          pair.fromClient.begin() + static_cast<std::ptrdiff_t>(length));
  }
}

void TcpRelay::readReplies(Pair& pair, const std::uint8_t* data, std::size_t size) {
  pair.fromServer.insert(pair.fromServer.end(), data, data + size);
  for (std::size_t length;
       (length = frameLength(pair.fromServer)) != 0 && pair.fromServer.size() >= length;) {
    std::vector<std::uint8_t> frame(pair.fromServer.begin(),
                                    pair.fromServer.begin() + static_cast<std::ptrdiff_t>(length));
    pair.fromServer.erase(pair.fromServer.begin(),
                          pair.fromServer.begin() + static_cast<std::ptrdiff_t>(length));
    auto due = std::chrono::steady_clock::now();
    auto altered = alter(pair, std::move(frame), due);
    if (!altered) continue;
    // Frames keep their order: none overtakes one held back.
    if (!pair.toClient.empty()) due = std::max(due, pair.toClient.back().due);
    pair.toClient.push_back({due, std::move(*altered)});
  }
}

std::optional<std::vector<std::uint8_t>> TcpRelay::alter(
    Pair& pair, std::vector<std::uint8_t> frame, std::chrono::steady_clock::time_point& due) {
  std::uint8_t* message = frame.data() + kFrameHeader;
  const std::size_t size = frame.size() - kFrameHeader;
  const bool encrypted = isEncrypted(message, size);
  const bool plain = isPlain(message, size);
  if (plain && little(message + 8, 4) == kStatusPending &&
      (little(message + 16, 4) & kAsyncCommand)) {
    return frame;
  }
  ReplyTamper tamper;
  {
    std::lock_guard lock(mutex_);
    if (tampers_.empty()) return frame;
    ReplyTamper& next = tampers_.front();
    const bool matches = next.encrypted
                             ? encrypted
                             : plain && (!next.command || *next.command == little(message + 12, 2));
    if (!matches) return frame;
    tamper = next;
    if (--next.count <= 0) tampers_.pop_front();
    ++tampered_;
  }
  switch (tamper.action) {
    case ReplyTamper::Action::kFlipSignature:
      message[encrypted ? 4 : 48] ^= 0x01;
      break;
    case ReplyTamper::Action::kTruncate:
      frame.resize(kFrameHeader + std::min(tamper.offset, size));
      frame[1] = static_cast<std::uint8_t>((frame.size() - kFrameHeader) >> 16);
      frame[2] = static_cast<std::uint8_t>((frame.size() - kFrameHeader) >> 8);
      frame[3] = static_cast<std::uint8_t>(frame.size() - kFrameHeader);
      break;
    case ReplyTamper::Action::kPlainError:
      return plainError(tamper, tamper.messageId.value_or(pair.lastRequest),
                        encrypted ? little(message + 44, 8) : 0);
    case ReplyTamper::Action::kPatch:
      if (tamper.offset + tamper.width <= size)
        putLittle(message + tamper.offset, tamper.width, tamper.value);
      break;
    case ReplyTamper::Action::kDrop:
      return std::nullopt;
    case ReplyTamper::Action::kDelay:
      due += tamper.delay;
      break;
  }
  return frame;
}

bool TcpRelay::flush(Pair& pair) {
  const auto now = std::chrono::steady_clock::now();
  while (!pair.toClient.empty() && pair.toClient.front().due <= now) {
    const Held& held = pair.toClient.front();
    if (!writeAll(pair.client.get(), held.bytes.data(), held.bytes.size())) return false;
    pair.toClient.pop_front();
  }
  return true;
}

SilentPort::SilentPort(const std::string& address) : listener_(listenOn(address, 0, port_)) {
  // One connection fills a queue of length 0; the next ones are never answered.
  const sockaddr_in target = socketAddress(address, port_);
  for (OwnedSocket& socket : queued_) {
    socket = OwnedSocket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
        errno != EINPROGRESS) {
      throw std::runtime_error("fill a silent port's queue: " + std::string(std::strerror(errno)));
    }
  }
}

}  // namespace kestrine::testing
