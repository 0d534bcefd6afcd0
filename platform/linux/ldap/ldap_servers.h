#pragma once

#include <string>
#include <vector>

#include "platform/directory/directory_connection.h"
#include "platform/linux/tcp_connect.h"

namespace kestrine {

// A domain controller's LDAP service. Always plain ldap://: the connection is
// sealed by Kerberos, which a domain controller refuses on top of TLS.
struct LdapServer {
  std::string host;
  int port = 389;

  std::string uri() const;
  // Host names compare without regard to case, as DNS names do.
  bool operator==(const LdapServer& other) const;
};

// The servers to ask, in order: those of libldap's configuration (ldap.conf,
// LDAPCONF, LDAPRC, LDAPURI), or else the domain controllers that DNS names for
// the default Kerberos realm. Fails with a reason that names what is missing
// when there is none.
std::vector<LdapServer> configuredServers();

struct ServerConnection {
  OwnedSocket socket;
  LdapServer server;
};

// A TCP connection to the first of `servers` that answers. Their addresses are
// tried in order, each next one a second after the one before while the
// earlier ones may still answer, and all of them together within the
// settings' timeout. Fails with ConnectionLost.
ServerConnection connectToFirst(const std::vector<LdapServer>& servers,
                                const ConnectionSettings& settings);

}  // namespace kestrine
