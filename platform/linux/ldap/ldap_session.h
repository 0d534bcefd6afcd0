#pragma once

#include <ldap.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/directory/directory_connection.h"
#include "platform/directory_session.h"
#include "platform/linux/ldap/ldap_servers.h"

namespace kestrine {

// The run's LDAP connection, opened at first use with SASL GSSAPI and the
// caller's Kerberos credentials, sealed so that the server accepts password
// writes. No call waits longer than the settings' timeout for the server; a
// connection that is lost or closed by the server is replaced by a new one
// with the same discovery and bind (see DirectoryConnection for when), to the
// domain controller bound first if it answers.
class LdapSession : public DirectorySession, private DirectoryLink {
 public:
  // Without a wait, the library is called on the caller's thread.
  explicit LdapSession(ConnectionSettings settings = {}, NetworkWait* wait = nullptr);
  ~LdapSession() override;
  LdapSession(const LdapSession&) = delete;
  LdapSession& operator=(const LdapSession&) = delete;

  Entry readEntry(const std::string& dn) override;
  std::vector<Entry> search(const std::string& base, const std::string& filter,
                            const std::vector<std::string>& attributes) override;
  void add(const std::string& dn, const std::vector<AttributeValues>& attributes) override;
  void replace(const std::string& dn, const std::vector<AttributeValues>& attributes) override;
  void replaceAndRead(const std::string& dn, const std::vector<AttributeValues>& attributes,
                      std::optional<Entry>& read) override;

 private:
  struct Unbind {
    void operator()(LDAP* ld) const;
  };

  void open() override;
  void close() override;
  bool closedByPeer() override;
  void probe() override;
  std::string serverName() const override { return pinned_ ? pinned_->host : server_.host; }

  void configure(LDAP* ld);
  void bind(LDAP* ld);
  void pin();
  // Fails with the server's text on the handle, or with `diagnostic`.
  [[noreturn]] void fail(int rc, const std::string& doing);
  [[noreturn]] void fail(int rc, const std::string& doing, const std::string& diagnostic);
  // Waits for the whole answer to request `id`, sent for `doing`, at most
  // `wait` (the timeout when 0); throws on the server's refusal, a lost
  // connection or no answer in time.
  struct Answer;
  Answer await(int id, const std::string& doing, std::chrono::seconds wait = {});
  // A change sent and its answer awaited as long as a write's may be.
  void change(const std::string& dn, LDAPMod** mods, int op, const std::string& doing);
  // Requests sent on the open connection, by their message ids.
  int sendSearch(const std::string& base, int scope, const std::string& filter,
                 const std::vector<std::string>& attributes, int sizeLimit,
                 const std::string& doing);
  int sendRead(const std::string& dn);
  // An add (LDAP_MOD_ADD) or a modify (LDAP_MOD_REPLACE) of `dn`.
  int sendChange(const std::string& dn, LDAPMod** mods, int op, const std::string& doing);
  std::vector<Entry> entriesOf(LDAPMessage* answer);
  // One search on the open connection.
  std::vector<Entry> find(const std::string& base, int scope, const std::string& filter,
                          const std::vector<std::string>& attributes, int sizeLimit,
                          const std::string& doing);

  ConnectionSettings settings_;
  DirectoryConnection connection_;
  std::unique_ptr<LDAP, Unbind> ld_;
  LdapServer server_;  // the one connected to
  // The domain controller of the first bind, by its own name: another one may
  // not have what this run wrote yet.
  std::optional<LdapServer> pinned_;
};

}  // namespace kestrine
