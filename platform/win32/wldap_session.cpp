#include "platform/win32/wldap_session.h"

// winsock2 before windows.h, which would bring in the older winsock; the
// LDAP headers after both, winber after winldap.
#include <winsock2.h>

#include <windows.h>

#include <winldap.h>

#include <winber.h>

#include <dsgetdc.h>

// NET_API_STATUS, which lmapibuf.h uses.
#include <lmcons.h>

#include <lmapibuf.h>

#define SECURITY_WIN32
#include <sspi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/directory.h"
#include "platform/directory/ldap_modifications.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"

namespace kestrine {

static_assert(LDAP_MOD_BVALUES == 0x80);

namespace {

// wldap32's codes on which it gives up the connection: the server is gone,
// did not answer in time, or could not be reached.
bool leavesConnectionUnusable(int rc) {
  return rc == LDAP_SERVER_DOWN || rc == LDAP_TIMEOUT || rc == LDAP_CONNECT_ERROR;
}

template <class T, auto Free>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
void freeText(wchar_t* text) {
  ldap_memfreeW(text);
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
using LdapText = std::unique_ptr<wchar_t, Freer<wchar_t, freeText>>;
using LdapMessage = std::unique_ptr<LDAPMessage, Freer<LDAPMessage, freeMessage>>;
using BerHandle = std::unique_ptr<BerElement, Freer<BerElement, freeBerElement>>;
using ValuesHandle = std::unique_ptr<berval*, Freer<berval*, freeValues>>;

// wldap32 takes non-const strings it does not change.
wchar_t* text(std::wstring& value) {
  return value.data();
}

std::string errorText(unsigned long rc) {
  const wchar_t* name = ldap_err2stringW(rc);
  return (name ? toUtf8(name) : std::string("LDAP error")) + " (LDAP " + std::to_string(rc) + ")";
}

using Modifications = LdapModifications<LDAPModW, berval, std::wstring>;

Modifications modifications(const std::vector<AttributeValues>& attributes, int op) {
  return Modifications(
      attributes, op, [](const std::string& name) { return toWide(name); },
      [](LDAPModW& mod, berval** values) { mod.mod_vals.modv_bvals = values; });
}

// How a bind on a thread of its own stands; shared by that thread and the
// session, whichever is done with it last.
struct BindState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool givenUp = false;
  ULONG rc = LDAP_SUCCESS;
};

// wldap32's bind waits for the server without a time limit of its own, so it
// runs on a thread of its own and the session waits for it at most `timeout`.
// Nothing when it did not end in time: the connection then stays with that
// thread, which closes it once the bind comes back (sooner, as its socket is
// shut here), and no one uses it again.
template <class Bind>
std::optional<ULONG> bindWithin(LDAP* ld, Bind bind, std::chrono::milliseconds timeout) {
  // Read before the bind starts: the two threads never use the connection at once.
  UINT_PTR socket = 0;
  if (ldap_get_optionW(ld, LDAP_OPT_DESC, &socket) != LDAP_SUCCESS) socket = 0;
  auto state = std::make_shared<BindState>();
  std::thread([state, ld, bind = std::move(bind)]() mutable {
    const ULONG rc = bind(ld);
    const std::lock_guard lock(state->mutex);
    state->rc = rc;
    state->done = true;
    if (state->givenUp) ldap_unbind(ld);
    state->ended.notify_all();
  }).detach();
  std::unique_lock lock(state->mutex);
  if (state->ended.wait_for(lock, timeout, [&] { return state->done; })) return state->rc;
  state->givenUp = true;
  if (socket != 0 && socket != static_cast<UINT_PTR>(INVALID_SOCKET)) {
    shutdown(static_cast<SOCKET>(socket), SD_BOTH);
  }
  return std::nullopt;
}

// Sets an on-or-off option; the library's result code.
ULONG switchOn(LDAP* ld, int option) {
  return ldap_set_optionW(ld, option, LDAP_OPT_ON);
}

std::string windowsError(DWORD error) {
  return windowsErrorText(error) + " (Windows error " + std::to_string(error) + ")";
}

// A writable domain controller of this machine's domain, by its DNS name, as
// the domain controller locator gives it; `again` makes the locator ask the
// network instead of handing back what it found before, which it keeps for
// up to 15 minutes ("DsGetDcNameW function (dsgetdc.h)", DS_FORCE_REDISCOVERY).
// ldap_init with no name would do the same but bind 127.0.0.1 when run on a
// domain controller, a read-only one too.
std::wstring domainController(bool again, const std::string& doing) {
  using Locate = decltype(DsGetDcNameW);
  using Free = decltype(NetApiBufferFree);
  static Locate* const locate = systemFunction<Locate>(L"netapi32.dll", "DsGetDcNameW");
  static Free* const release = systemFunction<Free>(L"netapi32.dll", "NetApiBufferFree");
  if (!locate || !release) {
    throw ConnectionLost(LDAP_CONNECT_ERROR, doing +
                                                 ": the domain controller locator "
                                                 "(DsGetDcNameW in netapi32.dll) is missing");
  }
  const ULONG flags = DS_DIRECTORY_SERVICE_REQUIRED | DS_WRITABLE_REQUIRED | DS_RETURN_DNS_NAME |
                      (again ? DS_FORCE_REDISCOVERY : 0);
  DOMAIN_CONTROLLER_INFOW* found = nullptr;
  const DWORD error = locate(nullptr, nullptr, nullptr, nullptr, flags, &found);
  const std::unique_ptr<DOMAIN_CONTROLLER_INFOW, Free*> owned(found, release);
  if (error != ERROR_SUCCESS || !found || !found->DomainControllerName) {
    throw ConnectionLost(LDAP_CONNECT_ERROR,
                         doing + ": no writable domain controller found: " + windowsError(error));
  }
  std::wstring name = found->DomainControllerName;  // "\\dc1.example.com"
  name.erase(0, name.find_first_not_of(L'\\'));
  return name;
}

// Whether the bound connection's security context seals every message: what
// SSPI negotiated ("SecPkgContext_Flags structure (sspi.h)": the flags that
// InitializeSecurityContext negotiated), not LDAP_OPT_ENCRYPT, which tells
// what was asked for.
bool sealed(LDAP* ld) {
  using Query = decltype(QueryContextAttributesW);
  static Query* const query = systemFunction<Query>(L"secur32.dll", "QueryContextAttributesW");
  CtxtHandle* context = nullptr;
  if (!query || ldap_get_optionW(ld, LDAP_OPT_SECURITY_CONTEXT, &context) != LDAP_SUCCESS ||
      !context) {
    return false;
  }
  SecPkgContext_Flags flags{};
  return query(context, SECPKG_ATTR_FLAGS, &flags) == SEC_E_OK &&
         (flags.Flags & ISC_RET_CONFIDENTIALITY) != 0;
}

}  // namespace

// The final result of a request: its code, the server's text, and for a
// search the entries that came before it.
struct WldapSession::Answer {
  LdapMessage message;
  unsigned long code = LDAP_SUCCESS;
  std::string diagnostic;
};

WldapSession::WldapSession(WldapBind bind, ConnectionSettings settings, NetworkWait* wait)
    : bind_(std::move(bind)), settings_(settings), connection_(*this, settings, wait) {}

WldapSession::~WldapSession() = default;

void WldapSession::Unbind::operator()(ldap* ld) const {
  ldap_unbind(ld);
}

std::string WldapSession::serverName() const {
  if (bind_.method != WldapBind::Method::Negotiate) return "ldaps://" + bind_.server;
  return controller_.empty() ? "the domain controller"
                             : "the domain controller " + toUtf8(controller_);
}

// A new connection, not yet bound, to `server` (Negotiate: a domain
// controller by its name) or to the named LDAPS server.
std::unique_ptr<ldap, WldapSession::Unbind> WldapSession::connect(const std::wstring& server) {
  const bool negotiate = bind_.method == WldapBind::Method::Negotiate;
  std::wstring name = server;
  LDAP* raw =
      negotiate ? ldap_initW(text(name), LDAP_PORT) : ldap_sslinitW(text(name), LDAP_SSL_PORT, 1);
  if (!raw) {
    const unsigned long rc = LdapGetLastError();
    throw ConnectionLost(static_cast<int>(rc), "connect to " + serverName() + ": " + errorText(rc));
  }
  std::unique_ptr<ldap, Unbind> ld(raw);
  ULONG version = LDAP_VERSION3;
  ldap_set_optionW(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_optionW(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  // A lost connection is replaced by DirectoryConnection, which knows that a
  // write may not be sent again; the library must not do it behind its back.
  ldap_set_optionW(ld.get(), LDAP_OPT_AUTO_RECONNECT, LDAP_OPT_OFF);
  ULONG sendTimeout = static_cast<ULONG>(settings_.timeout.count());
  ldap_set_optionW(ld.get(), LDAP_OPT_SEND_TIMEOUT, &sendTimeout);

  const std::string doing = "connect to " + serverName();
  if (negotiate) {
    // The name is a host's, not a domain's to locate a server of ("Session
    // Options": LDAP_OPT_AREC_EXCLUSIVE); and no credential prompt may come
    // from a bind thread that the run may have given up on
    // (LDAP_OPT_PROMPT_CREDENTIALS is on by default).
    const std::pair<int, const void*> options[] = {{LDAP_OPT_AREC_EXCLUSIVE, LDAP_OPT_ON},
                                                   {LDAP_OPT_PROMPT_CREDENTIALS, LDAP_OPT_OFF}};
    for (const auto& [option, value] : options) {
      const ULONG rc = ldap_set_optionW(ld.get(), option, value);
      if (rc != LDAP_SUCCESS) {
        throw DirectoryError(static_cast<int>(rc), doing + ": " + errorText(rc));
      }
    }
  }
  l_timeval timeout{static_cast<LONG>(settings_.timeout.count()), 0};
  const ULONG rc = ldap_connect(ld.get(), &timeout);
  if (rc == LDAP_TIMEOUT) noAnswer(rc, doing);
  if (rc != LDAP_SUCCESS) throw ConnectionLost(static_cast<int>(rc), doing + ": " + errorText(rc));
  return ld;
}

void WldapSession::open() {
  close();
  const bool negotiate = bind_.method == WldapBind::Method::Negotiate;
  std::unique_ptr<ldap, Unbind> ld;
  if (negotiate) {
    const std::string doing = "connect to " + serverName();
    // The run stays with the domain controller it bound first while that one
    // can be reached; after one that did not answer, or could not be
    // connected to, the locator is asked afresh.
    const bool again = std::exchange(rediscover_, false);
    if (controller_.empty() || again) controller_ = domainController(again, doing);
    try {
      ld = connect(controller_);
    } catch (const NoAnswer&) {
      throw;
    } catch (const ConnectionLost&) {
      if (again) throw;
      controller_ = domainController(true, doing);
      ld = connect(controller_);
    }
  } else {
    ld = connect(toWide(bind_.server));
  }

  const std::string bound = (negotiate ? "Negotiate bind to " : "simple bind to ") + serverName();
  std::optional<ULONG> answer;
  ULONG rc = LDAP_SUCCESS;
  if (negotiate) {
    // Sealing: the server refuses password writes on a connection without it.
    for (const int option : {LDAP_OPT_SIGN, LDAP_OPT_ENCRYPT}) {
      rc = switchOn(ld.get(), option);
      if (rc != LDAP_SUCCESS) {
        throw DirectoryError(
            static_cast<int>(rc),
            bound + ": cannot ask for a signed and sealed connection: " + errorText(rc));
      }
    }
    answer = bindWithin(
        ld.get(),
        [](LDAP* handle) { return ldap_bind_sW(handle, nullptr, nullptr, LDAP_AUTH_NEGOTIATE); },
        settings_.timeout);
  } else {
    answer = bindWithin(
        ld.get(),
        [user = toWide(bind_.user), password = toWide(bind_.password)](LDAP* handle) mutable {
          const ULONG result = ldap_simple_bind_sW(handle, user.data(), password.data());
          SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
          return result;
        },
        settings_.timeout);
  }
  if (!answer) {
    ld.release();  // the bind's own thread closes it
    noAnswer(LDAP_TIMEOUT, bound);
  }
  rc = *answer;
  if (rc != LDAP_SUCCESS) {
    if (rc == LDAP_TIMEOUT) noAnswer(rc, bound);
    if (leavesConnectionUnusable(static_cast<int>(rc)))
      throw ConnectionLost(static_cast<int>(rc), bound + ": " + errorText(rc));
    if (rc == LDAP_INVALID_CREDENTIALS) {
      throw DirectoryError(
          static_cast<int>(rc),
          bound + ": the domain refused " +
              (negotiate ? "the credentials of this Windows logon (" + errorText(rc) +
                               "); log off and on again, or have the account "
                               "checked (locked out, password expired)"
                         : "the credentials (" + errorText(rc) + ")"),
          FailureKind::kSignIn);
    }
    throw DirectoryError(static_cast<int>(rc), bound + ": " + errorText(rc));
  }
  // What the security context agreed to, not what was asked: every password
  // write would be refused on a connection that is not sealed.
  if (negotiate && !sealed(ld.get())) {
    throw DirectoryError(LDAP_CONFIDENTIALITY_REQUIRED,
                         bound + ": the connection to the domain controller is not encrypted");
  }
  ld_ = std::move(ld);
}

void WldapSession::noAnswer(unsigned long rc, const std::string& doing,
                            std::chrono::seconds waited) {
  rediscover_ = true;
  throw NoAnswer(
      static_cast<int>(rc),
      doing + ": " +
          noAnswerReason(waited > std::chrono::seconds::zero() ? waited : settings_.timeout,
                         kDomainControllerRole));
}

void WldapSession::close() {
  ld_.reset();
}

bool WldapSession::closedByPeer() {
  if (!ld_) return true;
  UINT_PTR socket = 0;
  if (ldap_get_optionW(ld_.get(), LDAP_OPT_DESC, &socket) != LDAP_SUCCESS || socket == 0 ||
      socket == static_cast<UINT_PTR>(INVALID_SOCKET)) {
    // Not to be seen from here: the idle check finds a dead connection.
    return false;
  }
  // No request is out between calls: anything to read is an end of file or
  // the server's notice of disconnection.
  WSAPOLLFD poll{static_cast<SOCKET>(socket), POLLRDNORM, 0};
  return WSAPoll(&poll, 1, 0) > 0;
}

void WldapSession::probe() {
  find("", LDAP_SCOPE_BASE, "(objectClass=*)", {"1.1"}, 1, "read rootDSE");
}

void WldapSession::fail(unsigned long rc, const std::string& doing, const std::string& diagnostic) {
  const int code = static_cast<int>(rc);
  if (rc == LDAP_TIMEOUT) noAnswer(rc, doing);
  std::string reason = errorText(rc);
  if (!diagnostic.empty()) reason += ": " + diagnostic;
  if (leavesConnectionUnusable(code)) {
    throw ConnectionLost(code, doing + ": lost the connection to " + serverName() + ": " + reason);
  }
  throw DirectoryError(code, doing + ": " + reason);
}

WldapSession::Answer WldapSession::await(unsigned long id, const std::string& doing,
                                         std::chrono::seconds wait) {
  if (wait <= std::chrono::seconds::zero()) wait = settings_.timeout;
  l_timeval timeout{static_cast<LONG>(wait.count()), 0};
  LDAPMessage* raw = nullptr;
  const ULONG type = ldap_result(ld_.get(), id, LDAP_MSG_ALL, &timeout, &raw);
  Answer answer;
  answer.message.reset(raw);
  if (type == 0) {
    ldap_abandon(ld_.get(), id);
    noAnswer(LDAP_TIMEOUT, doing, wait);
  }
  if (type == static_cast<ULONG>(-1) || !raw) {
    // The library gave up on the connection; its code says why. Taken for a
    // refusal, a change lost this way could be sent again.
    const ULONG rc = LdapGetLastError();
    fail(rc != LDAP_SUCCESS ? rc : ULONG{LDAP_SERVER_DOWN}, doing);
  }

  ULONG code = LDAP_SUCCESS;
  wchar_t* matched = nullptr;
  wchar_t* message = nullptr;
  const ULONG parsed =
      ldap_parse_resultW(ld_.get(), raw, &code, &matched, &message, nullptr, nullptr, FALSE);
  LdapText matchedOwner(matched);
  LdapText messageOwner(message);
  if (parsed != LDAP_SUCCESS) fail(parsed, doing);
  answer.code = code;
  if (message) answer.diagnostic = toUtf8(message);
  return answer;
}

namespace {

std::string reading(const std::string& dn) {
  return "read " + (dn.empty() ? std::string("rootDSE") : dn);
}

}  // namespace

Entry WldapSession::readEntry(const std::string& dn) {
  const std::string doing = reading(dn);
  std::vector<Entry> entries;
  connection_.read([&] { entries = entriesOf(awaitSuccess(sendRead(dn), doing)); });
  if (entries.empty()) throw DirectoryError(kNoSuchObject, doing + ": no such object");
  return std::move(entries.front());
}

unsigned long WldapSession::sendRead(const std::string& dn) {
  return sendSearch(dn, LDAP_SCOPE_BASE, "(objectClass=*)", bind_.readAttributes, 1, reading(dn));
}

std::vector<Entry> WldapSession::search(const std::string& base, const std::string& filter,
                                        const std::vector<std::string>& attributes) {
  std::vector<Entry> entries;
  connection_.read([&] {
    entries =
        find(base, LDAP_SCOPE_SUBTREE, filter, attributes, 0, "search " + base + " for " + filter);
  });
  return entries;
}

std::vector<Entry> WldapSession::find(const std::string& base, unsigned long scope,
                                      const std::string& filter,
                                      const std::vector<std::string>& attributes,
                                      unsigned long sizeLimit, const std::string& doing) {
  return entriesOf(
      awaitSuccess(sendSearch(base, scope, filter, attributes, sizeLimit, doing), doing));
}

unsigned long WldapSession::sendSearch(const std::string& base, unsigned long scope,
                                       const std::string& filter,
                                       const std::vector<std::string>& attributes,
                                       unsigned long sizeLimit, const std::string& doing) {
  std::wstring wideBase = toWide(base);
  std::wstring wideFilter = toWide(filter);
  std::vector<std::wstring> wideNames;
  for (const auto& name : attributes) wideNames.push_back(toWide(name));
  std::vector<wchar_t*> names;
  for (auto& name : wideNames) names.push_back(text(name));
  names.push_back(nullptr);

  ULONG id = 0;
  const ULONG sent =
      ldap_search_extW(ld_.get(), text(wideBase), scope, text(wideFilter),
                       attributes.empty() ? nullptr : names.data(), 0, nullptr, nullptr,
                       static_cast<ULONG>(settings_.timeout.count()), sizeLimit, &id);
  if (sent != LDAP_SUCCESS) fail(sent, doing);
  return id;
}

WldapSession::Answer WldapSession::awaitSuccess(unsigned long id, const std::string& doing,
                                                std::chrono::seconds wait) {
  Answer answer = await(id, doing, wait);
  if (answer.code != LDAP_SUCCESS) fail(answer.code, doing, answer.diagnostic);
  return answer;
}

std::vector<Entry> WldapSession::entriesOf(const Answer& answer) {
  LDAP* ld = ld_.get();
  std::vector<Entry> entries;
  for (LDAPMessage* found = ldap_first_entry(ld, answer.message.get()); found;
       found = ldap_next_entry(ld, found)) {
    Entry& entry = entries.emplace_back();
    if (LdapText name{ldap_get_dnW(ld, found)}) entry.dn = toUtf8(name.get());
    BerElement* rawBer = nullptr;
    for (wchar_t* attribute = ldap_first_attributeW(ld, found, &rawBer); attribute;
         attribute = ldap_next_attributeW(ld, found, rawBer)) {
      LdapText attributeOwner(attribute);
      auto& values = entry.attributes[attributeKey(toUtf8(attribute))];
      if (ValuesHandle read{ldap_get_values_lenW(ld, found, attribute)}) {
        for (berval** v = read.get(); *v; ++v) values.emplace_back((*v)->bv_val, (*v)->bv_len);
      }
    }
    BerHandle ber(rawBer);
  }
  return entries;
}

void WldapSession::add(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  change(dn, attributes, LDAP_MOD_ADD, "add " + dn);
}

void WldapSession::replace(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  change(dn, attributes, LDAP_MOD_REPLACE, "modify " + dn);
}

void WldapSession::replaceAndRead(const std::string& dn,
                                  const std::vector<AttributeValues>& attributes,
                                  std::optional<Entry>& read) {
  Modifications mods = modifications(attributes, LDAP_MOD_REPLACE);
  std::wstring wideDn = toWide(dn);
  const std::string doing = "modify " + dn;
  unsigned long changeId = 0;
  unsigned long reader = 0;
  std::chrono::seconds wait{};
  read.reset();
  connection_.writeAndRead(
      [&] {
        wait = connection_.writeWait();
        changeId = sendChange(wideDn, mods.get(), LDAP_MOD_REPLACE, doing);
      },
      [&] { reader = sendRead(dn); }, [&] { awaitSuccess(changeId, doing, wait); },
      [&] {
        auto entries = entriesOf(awaitSuccess(reader, reading(dn)));
        if (!entries.empty()) read = std::move(entries.front());
      });
}

void WldapSession::change(const std::string& dn, const std::vector<AttributeValues>& attributes,
                          int op, const std::string& doing) {
  Modifications mods = modifications(attributes, op);
  std::wstring wideDn = toWide(dn);
  connection_.write([&] {
    const std::chrono::seconds wait = connection_.writeWait();
    awaitSuccess(sendChange(wideDn, mods.get(), op, doing), doing, wait);
  });
}

unsigned long WldapSession::sendChange(std::wstring& dn, LDAPModW** mods, int op,
                                       const std::string& doing) {
  ULONG id = 0;
  const ULONG sent = op == LDAP_MOD_ADD
                         ? ldap_add_extW(ld_.get(), text(dn), mods, nullptr, nullptr, &id)
                         : ldap_modify_extW(ld_.get(), text(dn), mods, nullptr, nullptr, &id);
  if (sent != LDAP_SUCCESS) fail(sent, doing);
  return id;
}

}  // namespace kestrine
