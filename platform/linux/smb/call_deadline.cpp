#include "platform/linux/smb/call_deadline.h"

#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace kestrine {

namespace {

constexpr auto kCutAgainAfter = std::chrono::milliseconds(50);

// The addresses the server's name stands for, as libsmbclient finds them.
std::vector<sockaddr_storage> addressesOf(const std::string& server) {
  std::vector<sockaddr_storage> addresses;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(server.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage& address = addresses.emplace_back();
    std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
  }
  freeaddrinfo(found);
  return addresses;
}

// True for a connection to the SMB ports (445, or 139 for NetBIOS) of the
// address.
bool smbConnectionTo(const sockaddr_storage& peer, const sockaddr_storage& address) {
  if (peer.ss_family != address.ss_family) return false;
  if (peer.ss_family == AF_INET) {
    const auto& p = reinterpret_cast<const sockaddr_in&>(peer);
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    const int port = ntohs(p.sin_port);
    return (port == 445 || port == 139) && p.sin_addr.s_addr == a.sin_addr.s_addr;
  }
  if (peer.ss_family == AF_INET6) {
    const auto& p = reinterpret_cast<const sockaddr_in6&>(peer);
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    const int port = ntohs(p.sin6_port);
    return (port == 445 || port == 139) &&
           std::memcmp(&p.sin6_addr, &a.sin6_addr, sizeof p.sin6_addr) == 0;
  }
  return false;
}

// Shuts down this process's connections to the SMB ports of these addresses.
// The library that owns them sees them end and closes them itself.
void cutConnections(const std::vector<sockaddr_storage>& addresses) {
  const std::unique_ptr<DIR, int (*)(DIR*)> descriptors(opendir("/proc/self/fd"), closedir);
  if (!descriptors) return;
  while (const dirent* entry = readdir(descriptors.get())) {
    const int fd = std::atoi(entry->d_name);
    struct stat info {};
    if (entry->d_name[0] == '.' || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
    for (const auto& address : addresses) {
      if (smbConnectionTo(peer, address)) shutdown(fd, SHUT_RDWR);
    }
  }
}

}  // namespace

CallDeadline::CallDeadline() : thread_([this] { watch(); }) {}

CallDeadline::~CallDeadline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CallDeadline::arm(const std::string& server, std::chrono::steady_clock::time_point deadline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    overdue_ = false;
    server_ = server;
    deadline_ = deadline;
  }
  changed_.notify_all();
}

bool CallDeadline::overdue() {
  std::lock_guard<std::mutex> lock(mutex_);
  return overdue_;
}

// The watcher finds out at the deadline it was waiting for that the call has
// returned; nothing need wake it earlier.
void CallDeadline::disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
}

void CallDeadline::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::string resolved;
  std::vector<sockaddr_storage> addresses;
  // Every wake looks at the state afresh: a call may have returned and
  // another begun meanwhile.
  while (!stopping_) {
    if (!armed_) {
      changed_.wait(lock);
      continue;
    }
    if (!overdue_) {
      if (std::chrono::steady_clock::now() < deadline_) {
        changed_.wait_until(lock, deadline_);
        continue;
      }
      overdue_ = true;
    }
    const std::string server = server_;
    lock.unlock();
    if (server != resolved || addresses.empty()) {
      addresses = addressesOf(server);
      resolved = server;
    }
    cutConnections(addresses);
    lock.lock();
    if (armed_) changed_.wait_for(lock, kCutAgainAfter);
  }
}

}  // namespace kestrine
