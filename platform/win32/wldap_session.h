#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory/directory_connection.h"
#include "platform/directory_session.h"

struct ldap;
struct ldapmodW;

namespace kestrine {

// How a session finds its server and proves who it is.
struct WldapBind {
  enum class Method {
    // The program: a domain controller of this machine's domain, the
    // logged-on user's credentials, every message signed and sealed.
    Negotiate,
    // Where no Negotiate bind is to be had (tests under Wine): a named
    // server over LDAPS with a name and password.
    SimpleOverTls,
  };
  Method method = Method::Negotiate;
  std::string server;  // SimpleOverTls only
  std::string user;
  std::string password;
  // The attributes an object is read with; none means all of them. Wine's
  // LDAP library hangs on TLS answers of more than about a kilobyte, so its
  // tests read only what the run asks for.
  std::vector<std::string> readAttributes;

  static WldapBind negotiate() { return {}; }
  static WldapBind simpleOverTls(std::string server, std::string user, std::string password) {
    return {Method::SimpleOverTls, std::move(server), std::move(user), std::move(password), {}};
  }
};

// The run's LDAP connection through the Windows LDAP library (wldap32),
// opened at first use. Negotiate binds a writable domain controller that the
// locator names, and stays with it while it can be reached. Every request waits at most the
// settings' timeout for its answer; a connection that is lost or closed by the server is replaced
// by a new one with the same bind (see DirectoryConnection for when).
class WldapSession : public DirectorySession, private DirectoryLink {
 public:
  // Without a wait, the library is called on the caller's thread.
  explicit WldapSession(WldapBind bind = WldapBind::negotiate(), ConnectionSettings settings = {},
                        NetworkWait* wait = nullptr);
  ~WldapSession() override;
  WldapSession(const WldapSession&) = delete;
  WldapSession& operator=(const WldapSession&) = delete;

  Entry readEntry(const std::string& dn) override;
  std::vector<Entry> search(const std::string& base, const std::string& filter,
                            const std::vector<std::string>& attributes) override;
  void add(const std::string& dn, const std::vector<AttributeValues>& attributes) override;
  void replace(const std::string& dn, const std::vector<AttributeValues>& attributes) override;
  void replaceAndRead(const std::string& dn, const std::vector<AttributeValues>& attributes,
                      std::optional<Entry>& read) override;

 private:
  struct Unbind {
    void operator()(ldap* ld) const;
  };

  void open() override;
  void close() override;
  bool closedByPeer() override;
  void probe() override;

  std::unique_ptr<ldap, Unbind> connect(const std::wstring& server);
  std::string serverName() const override;
  // Throws NoAnswer; the next open() asks the locator afresh.
  [[noreturn]] void noAnswer(unsigned long rc, const std::string& doing,
                             std::chrono::seconds waited = {});
  [[noreturn]] void fail(unsigned long rc, const std::string& doing,
                         const std::string& diagnostic = {});
  // Waits for the answer to request `id`, sent for `doing`; throws on a
  // failure, a lost connection or no answer in time.
  struct Answer;
  // At most `wait`, the timeout when 0.
  Answer await(unsigned long id, const std::string& doing, std::chrono::seconds wait = {});
  // ... and fails with the server's refusal too.
  Answer awaitSuccess(unsigned long id, const std::string& doing, std::chrono::seconds wait = {});
  std::vector<Entry> entriesOf(const Answer& answer);
  // Requests sent on the open connection, by their message ids.
  unsigned long sendSearch(const std::string& base, unsigned long scope, const std::string& filter,
                           const std::vector<std::string>& attributes, unsigned long sizeLimit,
                           const std::string& doing);
  unsigned long sendRead(const std::string& dn);
  // An add (LDAP_MOD_ADD) or a modify (LDAP_MOD_REPLACE) of `dn`.
  unsigned long sendChange(std::wstring& dn, ldapmodW** mods, int op, const std::string& doing);
  void change(const std::string& dn, const std::vector<AttributeValues>& attributes, int op,
              const std::string& doing);
  std::vector<Entry> find(const std::string& base, unsigned long scope, const std::string& filter,
                          const std::vector<std::string>& attributes, unsigned long sizeLimit,
                          const std::string& doing);

  WldapBind bind_;
  ConnectionSettings settings_;
  DirectoryConnection connection_;
  std::unique_ptr<ldap, Unbind> ld_;
  // Negotiate: the domain controller the run binds, by its DNS name.
  std::wstring controller_;
  bool rediscover_ = false;
};

}  // namespace kestrine
