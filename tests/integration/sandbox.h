#pragma once

#include <string>
#include <vector>

#include "platform/linux/ldap/ldap_session.h"

namespace kestrine::testing {

// The sandbox domain as the integration tests see it: its names from the
// environment that `scripts/sandbox-domain exec` sets, reads over a connection
// of the tests' own, and clean-up of what a test created.
class Sandbox {
 public:
  Sandbox();

  const std::string& domainDn() const { return domainDn_; }
  const std::string& realm() const { return realm_; }
  // The controller's host name, which also serves the hidden share home$.
  const std::string& server() const { return server_; }
  // Its IP address.
  const std::string& address() const { return address_; }
  // Where the share's files lie on this machine.
  const std::string& shareDir() const { return shareDir_; }

  // The entry at `dn`, or an entry with an empty dn when there is none.
  Entry read(const std::string& dn);
  // The entries of the domain that match an LDAP filter, with their names only.
  std::vector<Entry> search(const std::string& filter);
  // Deletes a unit and everything below it; no error when it is not there.
  void removeTree(const std::string& dn);
  // True when the KDC accepts the password for the account.
  bool passwordWorks(const std::string& account, const std::string& password);
  // Removes every file and folder at the top of the share whose name starts
  // with `prefix`.
  void removeFromShare(const std::string& prefix);

 private:
  std::string domainDn_;
  std::string realm_;
  std::string server_;
  std::string address_;
  std::string shareDir_;
  LdapSession session_;
};

// The servers that libldap's configuration names (ldap.conf's URI), replaced
// for a scope: libldap reads its configuration once per process.
class ConfiguredServers {
 public:
  explicit ConfiguredServers(const std::string& uris);
  ~ConfiguredServers();
  ConfiguredServers(const ConfiguredServers&) = delete;
  ConfiguredServers& operator=(const ConfiguredServers&) = delete;

  void set(const std::string& uris);

 private:
  std::string saved_;
};

// scripts/sandbox-domain COMMAND for the sandbox these tests run in; its
// output, without the last line end.
std::string sandboxDomain(const std::string& command);

// The first value of an attribute, or "" when the entry lacks it.
std::string first(const Entry& entry, const std::string& attribute);

}  // namespace kestrine::testing
