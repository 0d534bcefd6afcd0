#include "tests/integration/tcp_relay.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A socket listening on `address` at a port the system picks.
OwnedSocket listenOn(const std::string& address, int backlog, int& port) {
  OwnedSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local = socketAddress(address, 0);
  socklen_t length = sizeof local;
  if (socket.get() < 0 || bind(socket.get(), reinterpret_cast<sockaddr*>(&local), length) != 0 ||
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

}  // namespace

TcpRelay::TcpRelay(const std::string& address, int targetPort)
    : listener_(listenOn(address, 16, port_)),
      target_(socketAddress(address, targetPort)),
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

void TcpRelay::loop() {
  for (;;) {
    std::vector<pollfd> sockets{{wake_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    for (const auto& pair : pairs_) {
      for (const auto& end : pair) sockets.push_back({end.get(), POLLIN, 0});  // poll skips -1
    }
    if (poll(sockets.data(), sockets.size(), -1) < 0) continue;
    if (sockets[0].revents) {
      std::uint64_t count = 0;
      if (read(wake_.get(), &count, sizeof count) < 0) continue;
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      if (!forgetAsked_) continue;
      for (auto& pair : pairs_) pair[1] = OwnedSocket();
      forgetAsked_ = false;
      forgotten_.notify_all();
      continue;  // the pairs have changed under the poll
    }
    if (sockets[1].revents) accept();
    for (std::size_t i = (sockets.size() - 2) / 2; i-- > 0;) {
      for (int end : {0, 1}) {
        if (sockets[2 + 2 * i + end].revents && !pass(pairs_[i], end)) {
          pairs_.erase(pairs_.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      }
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
  pairs_.emplace_back().push_back(std::move(client));
  pairs_.back().push_back(std::move(server));
  std::lock_guard lock(mutex_);
  ++connections_;
}

bool TcpRelay::pass(std::vector<OwnedSocket>& pair, int from) {
  if (pair[1].get() < 0) {
    // Forgotten: a reset, as from a host that no longer knows the connection.
    const linger reset{1, 0};
    setsockopt(pair[0].get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return false;
  }
  char buffer[16384];
  const ssize_t got = read(pair[from].get(), buffer, sizeof buffer);
  for (ssize_t sent = 0, n = 0; sent < got; sent += n) {
    n = write(pair[1 - from].get(), buffer + sent, static_cast<std::size_t>(got - sent));
    if (n <= 0) return false;
  }
  return got > 0;
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
