#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
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
  // The further file servers and shares for the SMB client's tests, as
  // scripts/sandbox-domain describes them: encryption required, DFS root with
  // the link "home", DFS proxy; at most SMB 2.1, only SMB 3.1.1; the relay's
  // name and address.
  const std::string& encryptedShare() const { return encryptedShare_; }
  const std::string& dfsShare() const { return dfsShare_; }
  const std::string& proxyShare() const { return proxyShare_; }
  const std::string& smb21Server() const { return smb21Server_; }
  const std::string& smb311Server() const { return smb311Server_; }
  const std::string& relayServer() const { return relayServer_; }
  const std::string& relayAddress() const { return relayAddress_; }

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
  std::string encryptedShare_;
  std::string dfsShare_;
  std::string proxyShare_;
  std::string smb21Server_;
  std::string smb311Server_;
  std::string relayServer_;
  std::string relayAddress_;
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

// The controller (or its file server alone) stopped (SIGSTOP) until thaw()
// or the end of the scope: the sandbox is shared by every integration test.
class Freeze {
 public:
  explicit Freeze(std::string processes = "") : processes_(std::move(processes)) {
    sandboxDomain("freeze " + processes_);
  }
  ~Freeze() {
    try {
      thaw();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  Freeze(const Freeze&) = delete;
  Freeze& operator=(const Freeze&) = delete;
  void thaw() {
    if (std::exchange(frozen_, false)) sandboxDomain("thaw " + processes_);
  }

 private:
  std::string processes_;
  bool frozen_ = true;
};

// An environment variable set for a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// The first value of an attribute, or "" when the entry lacks it.
std::string first(const Entry& entry, const std::string& attribute);

}  // namespace kestrine::testing
