#pragma once

#include <ldap.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/directory_connection.h"

namespace kestrine {

// An attribute's name and its new values; no values removes the attribute.
struct AttributeValues {
  std::string name;
  std::vector<std::string> values;
};

// Attribute names are case-insensitive: entries key them by this form.
std::string attributeKey(std::string name);

// What a base search read: the entry's name and its attributes, keyed by
// attributeKey().
struct Entry {
  std::string dn;
  std::map<std::string, std::vector<std::string>> attributes;
};

// The run's LDAP connection, opened at first use with SASL GSSAPI and the
// caller's Kerberos credentials, sealed so that the server accepts password
// writes. No call waits longer than the settings' timeout for the server; a
// connection that is lost or closed by the server is replaced by a new one
// with the same discovery and bind (see DirectoryConnection for when).
class LdapSession : private DirectoryLink {
 public:
  explicit LdapSession(ConnectionSettings settings = {});
  ~LdapSession() override;
  LdapSession(const LdapSession&) = delete;
  LdapSession& operator=(const LdapSession&) = delete;

  Entry readEntry(const std::string& dn);
  // The entries below `base` that match an LDAP filter, with the attributes
  // asked for.
  std::vector<Entry> search(const std::string& base, const std::string& filter,
                            const std::vector<std::string>& attributes);
  void add(const std::string& dn, const std::vector<AttributeValues>& attributes);
  void replace(const std::string& dn, const std::vector<AttributeValues>& attributes);

  // The server that the session talks (or would talk) to, for messages.
  const std::string& uri() const { return uri_; }

 private:
  struct Unbind {
    void operator()(LDAP* ld) const;
  };

  void open() override;
  void close() override;
  bool closedByPeer() override;
  void probe() override;

  [[noreturn]] void fail(int rc, const std::string& doing);
  // One search on the open connection.
  std::vector<Entry> find(const std::string& base, int scope, const std::string& filter,
                          const std::vector<std::string>& attributes, int sizeLimit,
                          const std::string& doing);

  ConnectionSettings settings_;
  DirectoryConnection connection_;
  std::unique_ptr<LDAP, Unbind> ld_;
  std::string uri_;
};

// The servers to use: libldap's configured URI (ldap.conf, LDAPCONF, LDAPRC,
// LDAPURI), or else the domain controllers that DNS names for the default
// Kerberos realm, or else libldap's built-in default.
std::string directoryServerUri();

}  // namespace kestrine
