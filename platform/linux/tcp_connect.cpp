#include "platform/linux/tcp_connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace kestrine {

OwnedSocket::~OwnedSocket() {
  if (fd_ >= 0) ::close(fd_);
}

OwnedSocket& OwnedSocket::operator=(OwnedSocket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TcpConnectError::TcpConnectError(bool timedOut, std::vector<EndpointFailure> failures)
    : std::runtime_error(timedOut ? "no answer before the deadline" : "no endpoint answered"),
      timedOut_(timedOut),
      failures_(std::move(failures)) {}

namespace {

using Clock = std::chrono::steady_clock;

struct Address {
  sockaddr_storage storage;
  socklen_t length;
};

struct Attempt {
  OwnedSocket socket;
  std::size_t endpoint;
};

struct LookupResult {
  bool done = false;
  int rc = 0;
  int error = 0;
  std::vector<Address> addresses;
};

// The name lookups of one connect, shared with the threads that make them: a
// lookup that outlives the connect's deadline finishes into it unseen, and
// the last of them frees it.
struct Lookups {
  std::mutex mutex;
  std::vector<LookupResult> results;
  OwnedSocket finished;  // an eventfd, counted up by each lookup as it ends
};

LookupResult lookUp(const TcpEndpoint& endpoint) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(endpoint.port);
  LookupResult result;
  result.done = true;
  result.rc = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found);
  if (result.rc == EAI_SYSTEM) result.error = errno;
  if (result.rc != 0) return result;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Address& address = result.addresses.emplace_back(Address{{}, a->ai_addrlen});
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
  }
  freeaddrinfo(found);
  return result;
}

std::shared_ptr<Lookups> startLookups(const std::vector<TcpEndpoint>& endpoints) {
  auto lookups = std::make_shared<Lookups>();
  lookups->results.resize(endpoints.size());
  lookups->finished = OwnedSocket(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (lookups->finished.get() < 0) {
    const int error = errno;
    for (LookupResult& result : lookups->results) result = {true, EAI_SYSTEM, error, {}};
    return lookups;
  }
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    try {
      std::thread([lookups, i, endpoint = endpoints[i]] {
        LookupResult result = lookUp(endpoint);
        const std::lock_guard lock(lookups->mutex);
        lookups->results[i] = std::move(result);
        const std::uint64_t one = 1;
        if (write(lookups->finished.get(), &one, sizeof one) < 0) {
          // Cannot happen short of 2^64 - 1 lookups; the deadline ends the wait.
        }
      }).detach();
    } catch (const std::system_error& e) {
      const std::lock_guard lock(lookups->mutex);
      lookups->results[i] = {true, EAI_SYSTEM, e.code().value(), {}};
    }
  }
  return lookups;
}

// A socket whose connection has been started, or an invalid one with errno set.
OwnedSocket startConnecting(const Address& address) {
  OwnedSocket socket(
      ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return socket;
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) ==
          0 ||
      errno == EINPROGRESS) {
    return socket;
  }
  const int error = errno;
  socket = OwnedSocket();
  errno = error;
  return socket;
}

}  // namespace

TcpConnection connectToFirstOf(const std::vector<TcpEndpoint>& endpoints,
                               Clock::time_point deadline, std::chrono::milliseconds stagger) {
  const std::size_t count = endpoints.size();
  std::vector<EndpointFailure> failures(count);
  const std::shared_ptr<Lookups> lookups = startLookups(endpoints);
  std::vector<std::optional<std::vector<Address>>> found(count);
  // The first failure of an endpoint is the one it is reported with.
  const auto fail = [&](std::size_t endpoint, int error) {
    if (failures[endpoint].reason.empty()) {
      failures[endpoint].error = error;
      failures[endpoint].reason = std::strerror(error);
    }
  };
  const auto collect = [&] {
    const std::lock_guard lock(lookups->mutex);
    for (std::size_t i = 0; i < count; ++i) {
      LookupResult& result = lookups->results[i];
      if (found[i] || !result.done) continue;
      found[i] = std::move(result.addresses);
      if (result.rc == 0) continue;
      failures[i].lookupError = result.rc;
      failures[i].error = result.error;
      failures[i].reason =
          result.rc == EAI_SYSTEM ? std::strerror(result.error) : gai_strerror(result.rc);
    }
  };

  std::vector<Attempt> pending;
  std::size_t current = 0;  // the endpoint whose addresses are tried now
  std::size_t next = 0;     // its next address
  auto nextStart = Clock::now();
  for (;;) {
    collect();
    while (current < count && found[current] && next >= found[current]->size()) {
      ++current;
      next = 0;
    }
    const auto now = Clock::now();
    if (now >= deadline) break;
    // The endpoints keep their order: a lookup still running holds up those after it.
    const bool ready = current < count && found[current];
    if (ready && (pending.empty() || now >= nextStart)) {
      const Address& address = (*found[current])[next++];
      OwnedSocket socket = startConnecting(address);
      if (socket.get() < 0) {
        fail(current, errno);
      } else {
        pending.push_back({std::move(socket), current});
        nextStart = now + stagger;
      }
      continue;
    }
    if (current == count && pending.empty()) break;  // every address refused

    const auto until = ready ? std::min(deadline, nextStart) : deadline;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    std::vector<pollfd> sockets;
    sockets.reserve(pending.size() + 1);
    for (const Attempt& attempt : pending) sockets.push_back({attempt.socket.get(), POLLOUT, 0});
    sockets.push_back({ready ? -1 : lookups->finished.get(), POLLIN, 0});  // poll skips -1
    if (poll(sockets.data(), sockets.size(), static_cast<int>(wait.count())) < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      for (const Attempt& attempt : pending) fail(attempt.endpoint, error);
      pending.clear();
      break;
    }
    if (sockets.back().revents) {
      std::uint64_t finished = 0;
      if (read(lookups->finished.get(), &finished, sizeof finished) < 0) {
        // Already drained: the results are read under the lock anyway.
      }
    }
    for (std::size_t i = pending.size(); i-- > 0;) {
      if (sockets[i].revents == 0) continue;
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(sockets[i].fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error == 0) {
        const int on = 1;
        setsockopt(sockets[i].fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return {std::move(pending[i].socket), pending[i].endpoint};
      }
      fail(pending[i].endpoint, error);
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  throw TcpConnectError(!pending.empty() || current < count, std::move(failures));
}

}  // namespace kestrine
