#include "platform/linux/ldap/ldap_session.h"

#include <openldap.h>
#include <poll.h>
#include <sasl/sasl.h>

#include <algorithm>
#include <cstring>

#include "platform/directory/ldap_modifications.h"
#include "platform/linux/kerberos_ticket.h"

namespace kestrine {

namespace {

constexpr const char* kNoGssapiModule =
    "the Kerberos (GSSAPI) module of the SASL library is not installed (Debian package "
    "libsasl2-modules-gssapi-mit)";
// The least SASL security strength that counts as sealed: DES, the weakest
// cipher that Kerberos may still choose.
constexpr ber_len_t kSealed = 56;

// libldap's own codes are negative: the server is gone or did not answer,
// or the connection's state is no longer known (a sealed message that does not
// decode, say). Positive codes are the server's answers.
bool leavesConnectionUnusable(int rc) {
  return LDAP_API_ERROR(rc);
}

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

// The server's text on the handle, if any.
std::string diagnosticOf(LDAP* ld) {
  char* diagnostic = nullptr;
  if (!ld || ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) != LDAP_OPT_SUCCESS ||
      !diagnostic) {
    return {};
  }
  LdapText owner(diagnostic);
  return diagnostic;
}

std::string errorText(int rc, const std::string& diagnostic) {
  std::string text = std::string(ldap_err2string(rc)) + " (LDAP " + std::to_string(rc) + ")";
  if (!diagnostic.empty()) text += ": " + diagnostic;
  return text;
}

std::string errorText(LDAP* ld, int rc) {
  return errorText(rc, diagnosticOf(ld));
}

// Whether the SASL library loaded a mechanism: its modules are plugins that
// no package dependency shows.
bool mechanismLoaded(const char* name) {
  const char** loaded = sasl_global_listmech();
  for (; loaded && *loaded; ++loaded) {
    if (std::strcmp(*loaded, name) == 0) return true;
  }
  return false;
}

}  // namespace

LdapSession::LdapSession(ConnectionSettings settings, NetworkWait* wait)
    : settings_(settings), connection_(*this, settings, wait) {}

LdapSession::~LdapSession() = default;

void LdapSession::Unbind::operator()(LDAP* ld) const {
  ldap_unbind_ext_s(ld, nullptr, nullptr);
}

void LdapSession::open() {
  close();
  // Without a ticket GSSAPI could only fail, and in words no one reads
  // ("Unspecified GSS failure").
  if (const std::string problem = callersTicket().problem; !problem.empty()) {
    throw DirectoryError(LDAP_LOCAL_ERROR, "bind to the domain: " + problem, FailureKind::kSignIn);
  }
  std::vector<LdapServer> servers = configuredServers();
  if (pinned_) {
    servers.erase(std::remove(servers.begin(), servers.end(), *pinned_), servers.end());
    servers.insert(servers.begin(), *pinned_);
  }
  ServerConnection connection = connectToFirst(servers, settings_);
  server_ = connection.server;
  LDAP* raw = nullptr;
  const int rc = ldap_init_fd(connection.socket.get(), LDAP_PROTO_TCP, server_.uri().c_str(), &raw);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(rc, "connect to " + server_.uri() + ": " + errorText(nullptr, rc));
  }
  connection.socket.release();  // the handle closes it from here on
  std::unique_ptr<LDAP, Unbind> ld(raw);
  configure(ld.get());
  bind(ld.get());
  ld_ = std::move(ld);
  if (pinned_) return;
  try {
    pin();
  } catch (const DirectoryError&) {
    close();
    throw;
  }
}

void LdapSession::configure(LDAP* ld) {
  const int version = LDAP_VERSION3;
  // One limit for every answer awaited by a synchronous call, each round of
  // the SASL bind included.
  const timeval timeout{settings_.timeout.count(), 0};
  const struct {
    const char* name;
    int option;
    const void* value;
  } options[] = {
      {"protocol version", LDAP_OPT_PROTOCOL_VERSION, &version},
      {"referrals", LDAP_OPT_REFERRALS, LDAP_OPT_OFF},
      {"timeout", LDAP_OPT_TIMEOUT, &timeout},
      // A wait that a signal interrupts goes on waiting: the connection is fine.
      {"restart", LDAP_OPT_RESTART, LDAP_OPT_ON},
      // The Kerberos service name is the server's name as found, never a
      // reverse lookup of its address, which many networks do not have.
      {"SASL_NOCANON", LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON},
      // Sealing: the server refuses password writes on a connection without it.
      {"SASL_SECPROPS", LDAP_OPT_X_SASL_SECPROPS, "minssf=56"},
  };
  for (const auto& option : options) {
    // LDAP_OPT_ERROR tells nothing more; it is not LDAP_SERVER_DOWN, whose value it shares.
    if (ldap_set_option(ld, option.option, option.value) != LDAP_OPT_SUCCESS) {
      throw DirectoryError(LDAP_LOCAL_ERROR, "set up the connection to " + server_.uri() +
                                                 ": libldap refuses the option " + option.name);
    }
  }
}

void LdapSession::bind(LDAP* ld) {
  const std::string doing = "GSSAPI bind to " + server_.uri();
  const int rc = ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr,
                                              LDAP_SASL_QUIET, answerWithDefaults, nullptr);
  if (rc == LDAP_TIMEOUT) throw NoAnswer(rc, doing + ": " + noAnswerReason(settings_));
  // Only these say that the server could not be talked to; the bind's other
  // failures are reasons of their own, and the connection is dropped anyway.
  if (rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR) {
    throw ConnectionLost(rc, doing + ": " + errorText(ld, rc));
  }
  if (rc == LDAP_AUTH_UNKNOWN && !mechanismLoaded("GSSAPI")) {
    throw DirectoryError(rc, doing + ": " + kNoGssapiModule);
  }
  if (rc != LDAP_SUCCESS) {
    const std::string reason = errorText(ld, rc);
    const KerberosTicket ticket = callersTicket();
    std::string problem = ticket.problem;
    // GSSAPI's words for the Kerberos error KRB5KRB_AP_ERR_TKT_EXPIRED.
    if (problem.empty() && reason.find("(Ticket expired)") != std::string::npos) {
      problem = refusedAsExpired(ticket);
    }
    const std::string byAddress =
        namesAnAddress(server_.host)
            ? " (Kerberos needs the server's host name in ldap.conf, not its address)"
            : "";
    throw DirectoryError(rc, doing + ": " + (problem.empty() ? reason + byAddress : problem),
                         problem.empty() ? FailureKind::kOther : FailureKind::kSignIn);
  }
  ber_len_t strength = 0;
  if (ldap_get_option(ld, LDAP_OPT_X_SASL_SSF, &strength) != LDAP_OPT_SUCCESS ||
      strength < kSealed) {
    throw DirectoryError(LDAP_STRONG_AUTH_REQUIRED,
                         doing + ": the connection is not sealed (SASL security strength " +
                             std::to_string(strength) + ", at least " + std::to_string(kSealed) +
                             " needed)");
  }
}

void LdapSession::pin() {
  const auto root =
      find("", LDAP_SCOPE_BASE, "(objectClass=*)", {"dnsHostName"}, 1, "read rootDSE");
  LdapServer pinned = server_;
  if (!root.empty()) {
    const auto name = root.front().attributes.find("dnshostname");
    if (name != root.front().attributes.end() && !name->second.empty() &&
        !name->second.front().empty()) {
      pinned.host = name->second.front();
    }
  }
  pinned_ = pinned;
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
  fail(rc, doing, diagnosticOf(ld_.get()));
}

void LdapSession::fail(int rc, const std::string& doing, const std::string& diagnostic) {
  if (rc == LDAP_TIMEOUT) throw NoAnswer(rc, doing + ": " + noAnswerReason(settings_));
  if (leavesConnectionUnusable(rc)) {
    throw ConnectionLost(
        rc, doing + ": lost the connection to " + server_.uri() + ": " + errorText(rc, diagnostic));
  }
  throw DirectoryError(rc, doing + ": " + errorText(rc, diagnostic));
}

// The final answer to a request, with the entries that came before it.
struct LdapSession::Answer {
  LdapMessage message;
};

LdapSession::Answer LdapSession::await(int id, const std::string& doing,
                                       std::chrono::seconds wait) {
  LDAP* ld = ld_.get();
  if (wait <= std::chrono::seconds::zero()) wait = settings_.timeout;
  timeval timeout{static_cast<time_t>(wait.count()), 0};
  LDAPMessage* raw = nullptr;
  const int type = ldap_result(ld, id, LDAP_MSG_ALL, &timeout, &raw);
  Answer answer{LdapMessage(raw)};
  if (type == 0) {
    ldap_abandon_ext(ld, id, nullptr, nullptr);
    throw NoAnswer(LDAP_TIMEOUT, doing + ": " + noAnswerReason(wait, kDomainControllerRole));
  }
  if (type == -1 || !raw) {
    // The library gave up on the connection; its code says why.
    int rc = LDAP_SUCCESS;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    fail(rc != LDAP_SUCCESS ? rc : LDAP_SERVER_DOWN, doing);
  }
  int code = LDAP_OTHER;
  char* message = nullptr;
  const int parsed = ldap_parse_result(ld, raw, &code, nullptr, &message, nullptr, nullptr, 0);
  LdapText messageOwner(message);
  if (parsed != LDAP_SUCCESS) fail(parsed, doing);
  if (code != LDAP_SUCCESS) fail(code, doing, message ? message : "");
  return answer;
}

namespace {

std::string reading(const std::string& dn) {
  return "read " + (dn.empty() ? std::string("rootDSE") : dn);
}

}  // namespace

Entry LdapSession::readEntry(const std::string& dn) {
  const std::string doing = reading(dn);
  std::vector<Entry> entries;
  connection_.read([&] { entries = entriesOf(await(sendRead(dn), doing).message.get()); });
  if (entries.empty()) throw DirectoryError(kNoSuchObject, doing + ": no such object");
  return std::move(entries.front());
}

int LdapSession::sendRead(const std::string& dn) {
  return sendSearch(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {}, 1, reading(dn));
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
  return entriesOf(
      await(sendSearch(base, scope, filter, attributes, sizeLimit, doing), doing).message.get());
}

int LdapSession::sendSearch(const std::string& base, int scope, const std::string& filter,
                            const std::vector<std::string>& attributes, int sizeLimit,
                            const std::string& doing) {
  std::vector<char*> names;
  for (const auto& name : attributes) names.push_back(const_cast<char*>(name.c_str()));
  names.push_back(nullptr);
  timeval timeout{settings_.timeout.count(), 0};
  clearDiagnostic(ld_.get());
  int id = 0;
  const int rc = ldap_search_ext(ld_.get(), base.c_str(), scope, filter.c_str(),
                                 attributes.empty() ? nullptr : names.data(), 0, nullptr, nullptr,
                                 &timeout, sizeLimit, &id);
  if (rc != LDAP_SUCCESS) fail(rc, doing);
  return id;
}

std::vector<Entry> LdapSession::entriesOf(LDAPMessage* answer) {
  LDAP* ld = ld_.get();
  std::vector<Entry> entries;
  for (LDAPMessage* found = ldap_first_entry(ld, answer); found;
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
  connection_.write([&] { change(dn, mods.get(), LDAP_MOD_ADD, "add " + dn); });
}

void LdapSession::replace(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  Modifications mods = modifications(attributes, LDAP_MOD_REPLACE);
  connection_.write([&] { change(dn, mods.get(), LDAP_MOD_REPLACE, "modify " + dn); });
}

void LdapSession::change(const std::string& dn, LDAPMod** mods, int op, const std::string& doing) {
  const std::chrono::seconds wait = connection_.writeWait();
  await(sendChange(dn, mods, op, doing), doing, wait);
}

int LdapSession::sendChange(const std::string& dn, LDAPMod** mods, int op,
                            const std::string& doing) {
  clearDiagnostic(ld_.get());
  int id = 0;
  const int rc = op == LDAP_MOD_ADD
                     ? ldap_add_ext(ld_.get(), dn.c_str(), mods, nullptr, nullptr, &id)
                     : ldap_modify_ext(ld_.get(), dn.c_str(), mods, nullptr, nullptr, &id);
  if (rc != LDAP_SUCCESS) fail(rc, doing);
  return id;
}

void LdapSession::replaceAndRead(const std::string& dn,
                                 const std::vector<AttributeValues>& attributes,
                                 std::optional<Entry>& read) {
  Modifications mods = modifications(attributes, LDAP_MOD_REPLACE);
  const std::string doing = "modify " + dn;
  int changeId = 0;
  int reader = 0;
  std::chrono::seconds wait{};
  read.reset();
  connection_.writeAndRead(
      [&] {
        wait = connection_.writeWait();
        changeId = sendChange(dn, mods.get(), LDAP_MOD_REPLACE, doing);
      },
      [&] { reader = sendRead(dn); }, [&] { await(changeId, doing, wait); },
      [&] {
        auto entries = entriesOf(await(reader, reading(dn)).message.get());
        if (!entries.empty()) read = std::move(entries.front());
      });
}

}  // namespace kestrine
