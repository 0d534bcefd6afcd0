#include "platform/linux/ldap/ldap_servers.h"

#include <fcntl.h>
#include <krb5.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/directory_session.h"

namespace kestrine {

namespace {

using Clock = std::chrono::steady_clock;

// libldap reports this when nothing configured a server.
constexpr const char* kBuiltInDefaultUri = "ldap://localhost:389/??base";
constexpr const char* kFinding = "find the domain controller: ";
// A server that has not answered by then gets company: the next address is
// tried beside it.
constexpr auto kNextAddressAfter = std::chrono::seconds(1);

std::vector<std::string> words(const std::string& text, char separator = ' ') {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string word; std::getline(stream, word, separator);) {
    if (!word.empty()) result.push_back(word);
  }
  return result;
}

std::string defaultRealm() {
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) return {};
  char* realm = nullptr;
  std::string result;
  if (krb5_get_default_realm(context, &realm) == 0) {
    result = realm;
    krb5_free_default_realm(context, realm);
  }
  krb5_free_context(context);
  return result;
}

// Why Kerberos has no default realm: the file it reads, or the variable that
// named that file.
std::string missingRealm() {
  const char* variable = std::getenv("KRB5_CONFIG");
  const bool fromVariable = variable && *variable;
  const std::string files = fromVariable ? variable : "/etc/krb5.conf";
  const std::string named = files + (fromVariable ? " (KRB5_CONFIG)" : "");
  const auto list = words(files, ':');
  const bool present = std::any_of(list.begin(), list.end(), [](const std::string& file) {
    std::error_code error;
    return std::filesystem::exists(file, error);
  });
  return present ? named + " names no default_realm in [libdefaults]" : named + " does not exist";
}

std::vector<LdapServer> discoveredServers() {
  const std::string realm = defaultRealm();
  if (realm.empty()) {
    throw DirectoryError(LDAP_PARAM_ERROR,
                         std::string(kFinding) +
                             "no server in ldap.conf (URI) and no default Kerberos realm to "
                             "look one up in DNS: " +
                             missingRealm());
  }
  const std::string domain = attributeKey(realm);  // DNS ignores case as LDAP names do
  char* hosts = nullptr;
  const int rc = ldap_domain2hostlist(domain.c_str(), &hosts);
  std::vector<LdapServer> servers;
  if (rc == LDAP_SUCCESS && hosts) {
    for (const std::string& entry : words(hosts)) {
      LdapServer& server = servers.emplace_back();
      const auto colon = entry.rfind(':');
      server.host = entry.substr(0, colon);
      if (colon != std::string::npos) server.port = std::atoi(entry.c_str() + colon + 1);
    }
  }
  ldap_memfree(hosts);
  if (servers.empty()) {
    throw DirectoryError(rc != LDAP_SUCCESS ? rc : LDAP_PARAM_ERROR,
                         std::string(kFinding) + "no server in ldap.conf (URI) and none in DNS (" +
                             "_ldap._tcp." + domain + " SRV records): " +
                             (rc != LDAP_SUCCESS ? ldap_err2string(rc) : "none listed"));
  }
  return servers;
}

}  // namespace

std::string LdapServer::uri() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return "ldap://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool LdapServer::operator==(const LdapServer& other) const {
  return port == other.port && attributeKey(host) == attributeKey(other.host);
}

std::vector<LdapServer> configuredServers() {
  char* configured = nullptr;
  std::string list;
  if (ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS && configured) {
    list = configured;
    ldap_memfree(configured);
  }
  if (list.empty() || list == kBuiltInDefaultUri) return discoveredServers();

  std::vector<LdapServer> servers;
  std::string unusable;
  for (const std::string& uri : words(list)) {
    LDAPURLDesc* parsed = nullptr;
    if (ldap_url_parse(uri.c_str(), &parsed) == LDAP_URL_SUCCESS && parsed->lud_host &&
        *parsed->lud_host && attributeKey(parsed->lud_scheme) == "ldap") {
      servers.push_back({parsed->lud_host, parsed->lud_port != 0 ? parsed->lud_port : LDAP_PORT});
    } else {
      unusable += (unusable.empty() ? "" : " ") + uri;
    }
    if (parsed) ldap_free_urldesc(parsed);
  }
  if (servers.empty()) {
    throw DirectoryError(LDAP_PARAM_ERROR,
                         std::string(kFinding) + "ldap.conf names no ldap://host server (" +
                             unusable +
                             "); the connection is sealed by Kerberos, which a domain "
                             "controller refuses over TLS");
  }
  return servers;
}

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

namespace {

struct Address {
  std::size_t server;
  sockaddr_storage storage;
  socklen_t length;
};

struct Attempt {
  OwnedSocket socket;
  std::size_t server;
};

std::vector<Address> resolve(const std::vector<LdapServer>& servers,
                             std::vector<std::string>& failures) {
  std::vector<Address> addresses;
  for (std::size_t i = 0; i < servers.size(); ++i) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(servers[i].port);
    const int rc = getaddrinfo(servers[i].host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
      failures[i] = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
      continue;
    }
    for (const addrinfo* a = found; a; a = a->ai_next) {
      Address& address = addresses.emplace_back(Address{i, {}, a->ai_addrlen});
      std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    }
    freeaddrinfo(found);
  }
  return addresses;
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

// libldap waits on the socket with poll() itself: it gets a blocking one, as
// its own connect leaves it.
ServerConnection connected(OwnedSocket socket, const LdapServer& server) {
  const int flags = fcntl(socket.get(), F_GETFL);
  if (flags >= 0) fcntl(socket.get(), F_SETFL, flags & ~O_NONBLOCK);
  const int on = 1;
  setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return {std::move(socket), server};
}

}  // namespace

ServerConnection connectToFirst(const std::vector<LdapServer>& servers,
                                const ConnectionSettings& settings) {
  const auto deadline = Clock::now() + settings.timeout;
  std::vector<std::string> failures(servers.size());
  const std::vector<Address> addresses = resolve(servers, failures);
  const auto fail = [&](std::size_t server, int error) {
    if (failures[server].empty()) failures[server] = std::strerror(error);
  };

  std::vector<Attempt> pending;
  std::size_t next = 0;
  auto nextStart = Clock::now();
  for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
    if (next < addresses.size() && (pending.empty() || now >= nextStart)) {
      const Address& address = addresses[next++];
      OwnedSocket socket = startConnecting(address);
      if (socket.get() < 0) {
        fail(address.server, errno);
      } else {
        pending.push_back({std::move(socket), address.server});
        nextStart = now + kNextAddressAfter;
      }
      continue;
    }
    if (pending.empty()) break;  // every address refused

    const auto until = next < addresses.size() ? std::min(deadline, nextStart) : deadline;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    std::vector<pollfd> sockets;
    sockets.reserve(pending.size());
    for (const Attempt& attempt : pending) sockets.push_back({attempt.socket.get(), POLLOUT, 0});
    if (poll(sockets.data(), sockets.size(), static_cast<int>(wait.count())) < 0 &&
        errno != EINTR) {
      for (const Attempt& attempt : pending) fail(attempt.server, errno);
      break;
    }
    for (std::size_t i = sockets.size(); i-- > 0;) {
      if (sockets[i].revents == 0) continue;
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(sockets[i].fd, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error == 0) {
        return connected(std::move(pending[i].socket), servers[pending[i].server]);
      }
      fail(pending[i].server, error);
      pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  const bool timedOut = !pending.empty() || next < addresses.size();
  std::string tried;
  std::string reasons = timedOut ? noAnswerReason(settings) : "";
  for (std::size_t i = 0; i < servers.size(); ++i) {
    tried += (tried.empty() ? "" : " ") + servers[i].uri();
    if (failures[i].empty()) continue;
    reasons += (reasons.empty() ? "" : "; ") + servers[i].uri() + ": " + failures[i];
  }
  const std::string failure = "connect to " + tried + ": " + reasons;
  if (timedOut) throw NoAnswer(LDAP_TIMEOUT, failure);
  throw ConnectionLost(LDAP_CONNECT_ERROR, failure);
}

}  // namespace kestrine
