#include "platform/linux/ldap/ldap_servers.h"

#include <fcntl.h>
#include <krb5.h>
#include <ldap.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/directory_session.h"

namespace kestrine {

namespace {

using Clock = std::chrono::steady_clock;

// libldap reports this when nothing configured a server.
constexpr const char* kBuiltInDefaultUri = "ldap://localhost:389/??base";
constexpr const char* kFinding = "find the domain controller: ";

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

namespace {

// libldap waits on the socket with poll() itself: it gets a blocking one, as
// its own connect leaves it.
ServerConnection connected(OwnedSocket socket, const LdapServer& server) {
  const int flags = fcntl(socket.get(), F_GETFL);
  if (flags >= 0) fcntl(socket.get(), F_SETFL, flags & ~O_NONBLOCK);
  return {std::move(socket), server};
}

}  // namespace

ServerConnection connectToFirst(const std::vector<LdapServer>& servers,
                                const ConnectionSettings& settings) {
  std::vector<TcpEndpoint> endpoints;
  for (const LdapServer& server : servers) {
    endpoints.push_back({server.host, static_cast<std::uint16_t>(server.port)});
  }
  try {
    TcpConnection connection = connectToFirstOf(endpoints, Clock::now() + settings.timeout);
    return connected(std::move(connection.socket), servers[connection.endpoint]);
  } catch (const TcpConnectError& error) {
    std::string tried;
    std::string reasons = error.timedOut() ? noAnswerReason(settings) : "";
    for (std::size_t i = 0; i < servers.size(); ++i) {
      tried += (tried.empty() ? "" : " ") + servers[i].uri();
      const std::string& reason = error.failures()[i].reason;
      if (!reason.empty())
        reasons += (reasons.empty() ? "" : "; ") + servers[i].uri() + ": " + reason;
    }
    const std::string failure = "connect to " + tried + ": " + reasons;
    if (error.timedOut()) throw NoAnswer(LDAP_TIMEOUT, failure);
    throw ConnectionLost(LDAP_CONNECT_ERROR, failure);
  }
}

}  // namespace kestrine
