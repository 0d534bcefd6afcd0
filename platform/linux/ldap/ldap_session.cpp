#include "platform/linux/ldap/ldap_session.h"

#include <krb5.h>
#include <poll.h>
#include <pthread.h>
#include <sasl/sasl.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sstream>

#include "platform/ldap_modifications.h"

namespace kestrine {

namespace {

// libldap reports this when nothing configured a server.
constexpr const char* kBuiltInDefaultUri = "ldap://localhost:389/??base";
constexpr const char* kNoTicket = "no Kerberos ticket (run kinit)";
constexpr const char* kTicketExpired = "the ticket has expired (run kinit)";

template <class T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
void freeText(char* text) {
  ldap_memfree(text);
}
void freeMessage(LDAPMessage* message) {
  ldap_msgfree(message);
}
void freeBerElement(BerElement* ber) {
  ber_free(ber, 0);
}
void freeValues(berval** values) {
  ldap_value_free_len(values);
}
using LdapText = std::unique_ptr<char, Freer<char, freeText>>;
using LdapMessage = std::unique_ptr<LDAPMessage, Freer<LDAPMessage, freeMessage>>;
using BerHandle = std::unique_ptr<BerElement, Freer<BerElement, freeBerElement>>;
using ValuesHandle = std::unique_ptr<berval*, Freer<berval*, freeValues>>;

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

std::string discoveredUri() {
  const std::string realm = defaultRealm();
  if (realm.empty()) return {};
  char* hosts = nullptr;
  const std::string domain = attributeKey(realm);  // DNS ignores case as LDAP names do
  if (ldap_domain2hostlist(domain.c_str(), &hosts) != LDAP_SUCCESS || !hosts) return {};
  LdapText owner(hosts);
  std::istringstream list(hosts);
  std::string host;
  std::string uris;
  while (list >> host) uris += (uris.empty() ? "" : " ") + ("ldap://" + host);
  return uris;
}

// Answers the SASL prompts without asking anyone: GSSAPI takes the identity
// from the Kerberos ticket.
int answerWithDefaults(LDAP*, unsigned, void*, void* prompts) {
  for (auto* prompt = static_cast<sasl_interact_t*>(prompts); prompt->id != SASL_CB_LIST_END;
       ++prompt) {
    const char* answer = prompt->defresult ? prompt->defresult : "";
    prompt->result = answer;
    prompt->len = static_cast<unsigned>(std::strlen(answer));
  }
  return LDAP_SUCCESS;
}

// The server's diagnostic text stays on the handle until the next result that
// carries one: cleared before every request, it belongs to this failure.
void clearDiagnostic(LDAP* ld) {
  ldap_set_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, nullptr);
}

std::string errorText(LDAP* ld, int rc) {
  std::string text = std::string(ldap_err2string(rc)) + " (LDAP " + std::to_string(rc) + ")";
  char* diagnostic = nullptr;
  if (ld && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
      diagnostic) {
    LdapText owner(diagnostic);
    if (*diagnostic) text += ": " + std::string(diagnostic);
  }
  return text;
}

// Why the caller's Kerberos credentials cannot serve a bind, or "" when they
// look usable and the cause lies elsewhere.
std::string ticketProblem() {
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) return {};
  std::string problem = kNoTicket;
  krb5_ccache cache = nullptr;
  krb5_principal client = nullptr;
  krb5_cc_cursor cursor = nullptr;
  if (krb5_cc_default(context, &cache) == 0 &&
      krb5_cc_get_principal(context, cache, &client) == 0 &&
      krb5_cc_start_seq_get(context, cache, &cursor) == 0) {
    krb5_timestamp now = 0;
    krb5_timeofday(context, &now);
    bool anyGranting = false;
    bool validGranting = false;
    krb5_creds creds;
    while (krb5_cc_next_cred(context, cache, &cursor, &creds) == 0) {
      char* server = nullptr;
      if (krb5_unparse_name(context, creds.server, &server) == 0) {
        if (std::strncmp(server, "krbtgt/", 7) == 0) {
          anyGranting = true;
          // Kerberos times are unsigned 32-bit seconds.
          validGranting = validGranting || static_cast<std::uint32_t>(creds.times.endtime) >
                                               static_cast<std::uint32_t>(now);
        }
        krb5_free_unparsed_name(context, server);
      }
      krb5_free_cred_contents(context, &creds);
    }
    krb5_cc_end_seq_get(context, cache, &cursor);
    problem = !anyGranting ? kNoTicket : validGranting ? "" : kTicketExpired;
  }
  if (client) krb5_free_principal(context, client);
  if (cache) krb5_cc_close(context, cache);
  krb5_free_context(context);
  return problem;
}

// SIGPIPE blocked in this thread while a write may meet a connection that
// the server has reset; one raised meanwhile is taken, not delivered.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~PipeSignalHeld() {
    sigset_t pending;
    sigpending(&pending);
    if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool alreadyPending_ = false;
};

}  // namespace

std::string directoryServerUri() {
  char* configured = nullptr;
  std::string uri;
  if (ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS && configured) {
    uri = configured;
    ldap_memfree(configured);
  }
  if (uri.empty() || uri == kBuiltInDefaultUri) {
    std::string discovered = discoveredUri();
    if (!discovered.empty()) return discovered;
  }
  return uri;
}

LdapSession::LdapSession(ConnectionSettings settings, NetworkWait* wait)
    : settings_(settings), connection_(*this, settings, wait) {}

LdapSession::~LdapSession() = default;

void LdapSession::Unbind::operator()(LDAP* ld) const {
  PipeSignalHeld held;
  ldap_unbind_ext_s(ld, nullptr, nullptr);
}

void LdapSession::open() {
  close();
  uri_ = directoryServerUri();
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, uri_.empty() ? nullptr : uri_.c_str());
  std::unique_ptr<LDAP, Unbind> ld(raw);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(rc, "connect to " + uri_ + ": " + errorText(nullptr, rc));
  }
  const int version = LDAP_VERSION3;
  // One limit for connecting and for every answer awaited by a synchronous
  // call, each round of the SASL bind included.
  const timeval timeout{settings_.timeout.count(), 0};
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &timeout);
  // Sealing: the server refuses password writes on a connection without it.
  char secprops[] = "minssf=56";
  ldap_set_option(ld.get(), LDAP_OPT_X_SASL_SECPROPS, secprops);

  rc = ldap_sasl_interactive_bind_s(ld.get(), nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                    answerWithDefaults, nullptr);
  if (rc != LDAP_SUCCESS) {
    const std::string doing = "GSSAPI bind to " + uri_;
    if (rc == LDAP_TIMEOUT) throw NoAnswer(rc, doing + ": " + noAnswerReason(settings_));
    if (leavesConnectionUnusable(rc))
      throw ConnectionLost(rc, doing + ": " + errorText(ld.get(), rc));
    const std::string ticket = ticketProblem();
    throw DirectoryError(rc, doing + ": " + (ticket.empty() ? errorText(ld.get(), rc) : ticket));
  }
  ld_ = std::move(ld);
}

void LdapSession::close() {
  ld_.reset();
}

bool LdapSession::closedByPeer() {
  int descriptor = -1;
  if (!ld_ || ldap_get_option(ld_.get(), LDAP_OPT_DESC, &descriptor) != LDAP_OPT_SUCCESS ||
      descriptor < 0) {
    return true;
  }
  // No request is out between calls: anything to read is an end of file or
  // the server's notice of disconnection.
  pollfd socket{descriptor, POLLIN, 0};
  return poll(&socket, 1, 0) > 0;
}

void LdapSession::probe() {
  find("", LDAP_SCOPE_BASE, "(objectClass=*)", {"1.1"}, 1, "read rootDSE");
}

void LdapSession::fail(int rc, const std::string& doing) {
  if (rc == LDAP_TIMEOUT) throw NoAnswer(rc, doing + ": " + noAnswerReason(settings_));
  if (leavesConnectionUnusable(rc)) {
    throw ConnectionLost(
        rc, doing + ": lost the connection to " + uri_ + ": " + errorText(ld_.get(), rc));
  }
  throw DirectoryError(rc, doing + ": " + errorText(ld_.get(), rc));
}

Entry LdapSession::readEntry(const std::string& dn) {
  const std::string doing = "read " + (dn.empty() ? std::string("rootDSE") : dn);
  std::vector<Entry> entries;
  connection_.read([&] { entries = find(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {}, 1, doing); });
  if (entries.empty()) throw DirectoryError(kNoSuchObject, doing + ": no such object");
  return std::move(entries.front());
}

std::vector<Entry> LdapSession::search(const std::string& base, const std::string& filter,
                                       const std::vector<std::string>& attributes) {
  std::vector<Entry> entries;
  connection_.read([&] {
    entries =
        find(base, LDAP_SCOPE_SUBTREE, filter, attributes, 0, "search " + base + " for " + filter);
  });
  return entries;
}

std::vector<Entry> LdapSession::find(const std::string& base, int scope, const std::string& filter,
                                     const std::vector<std::string>& attributes, int sizeLimit,
                                     const std::string& doing) {
  LDAP* ld = ld_.get();
  std::vector<char*> names;
  for (const auto& name : attributes) names.push_back(const_cast<char*>(name.c_str()));
  names.push_back(nullptr);
  LDAPMessage* raw = nullptr;
  timeval timeout{settings_.timeout.count(), 0};
  clearDiagnostic(ld);
  const int rc = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(),
                                   attributes.empty() ? nullptr : names.data(), 0, nullptr, nullptr,
                                   &timeout, sizeLimit, &raw);
  LdapMessage result(raw);
  if (rc != LDAP_SUCCESS) fail(rc, doing);

  std::vector<Entry> entries;
  for (LDAPMessage* found = ldap_first_entry(ld, result.get()); found;
       found = ldap_next_entry(ld, found)) {
    Entry& entry = entries.emplace_back();
    if (LdapText name{ldap_get_dn(ld, found)}) entry.dn = name.get();
    BerElement* rawBer = nullptr;
    for (char* attribute = ldap_first_attribute(ld, found, &rawBer); attribute;
         attribute = ldap_next_attribute(ld, found, rawBer)) {
      LdapText attributeOwner(attribute);
      auto& values = entry.attributes[attributeKey(attribute)];
      if (ValuesHandle read{ldap_get_values_len(ld, found, attribute)}) {
        for (berval** v = read.get(); *v; ++v) values.emplace_back((*v)->bv_val, (*v)->bv_len);
      }
    }
    BerHandle ber(rawBer);
  }
  return entries;
}

namespace {

using Modifications = LdapModifications<LDAPMod, berval, std::string>;

Modifications modifications(const std::vector<AttributeValues>& attributes, int op) {
  return Modifications(
      attributes, op, [](const std::string& name) { return name; },
      [](LDAPMod& mod, berval** values) { mod.mod_bvalues = values; });
}

}  // namespace

void LdapSession::add(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  Modifications mods = modifications(attributes, LDAP_MOD_ADD);
  connection_.write([&] {
    clearDiagnostic(ld_.get());
    const int rc = ldap_add_ext_s(ld_.get(), dn.c_str(), mods.get(), nullptr, nullptr);
    if (rc != LDAP_SUCCESS) fail(rc, "add " + dn);
  });
}

void LdapSession::replace(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  Modifications mods = modifications(attributes, LDAP_MOD_REPLACE);
  connection_.write([&] {
    clearDiagnostic(ld_.get());
    const int rc = ldap_modify_ext_s(ld_.get(), dn.c_str(), mods.get(), nullptr, nullptr);
    if (rc != LDAP_SUCCESS) fail(rc, "modify " + dn);
  });
}

}  // namespace kestrine
