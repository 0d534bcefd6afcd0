#include "platform/ldap/ldap_session.h"

#include <krb5.h>
#include <sasl/sasl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace kestrine {

namespace {

// libldap reports this when nothing configured a server.
constexpr const char* kBuiltInDefaultUri = "ldap://localhost:389/??base";
constexpr int kNetworkTimeoutSeconds = 10;

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

}  // namespace

std::string attributeKey(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

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

LDAP* LdapSession::connection() {
  if (ld_) return ld_.get();
  if (openFailure_) throw *openFailure_;
  try {
    ld_ = open();
  } catch (const DirectoryError& e) {
    openFailure_ = e;
    throw;
  }
  return ld_.get();
}

std::unique_ptr<LDAP, LdapSession::Unbind> LdapSession::open() {
  uri_ = directoryServerUri();
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, uri_.empty() ? nullptr : uri_.c_str());
  std::unique_ptr<LDAP, Unbind> ld(raw);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(rc, "connect to " + uri_ + ": " + errorText(nullptr, rc));
  }
  const int version = LDAP_VERSION3;
  timeval timeout{kNetworkTimeoutSeconds, 0};
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  // Sealing: the server refuses password writes on a connection without it.
  char secprops[] = "minssf=56";
  ldap_set_option(ld.get(), LDAP_OPT_X_SASL_SECPROPS, secprops);

  rc = ldap_sasl_interactive_bind_s(ld.get(), nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                    answerWithDefaults, nullptr);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(rc, "GSSAPI bind to " + uri_ + ": " + errorText(ld.get(), rc));
  }
  return ld;
}

void LdapSession::fail(int rc, const std::string& doing) {
  throw DirectoryError(rc, doing + ": " + errorText(ld_.get(), rc));
}

Entry LdapSession::readEntry(const std::string& dn) {
  const std::string doing = "read " + (dn.empty() ? std::string("rootDSE") : dn);
  auto entries = find(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {}, 1, doing);
  if (entries.empty()) throw DirectoryError(kNoSuchObject, doing + ": no such object");
  return std::move(entries.front());
}

std::vector<Entry> LdapSession::search(const std::string& base, const std::string& filter,
                                       const std::vector<std::string>& attributes) {
  return find(base, LDAP_SCOPE_SUBTREE, filter, attributes, 0, "search " + base + " for " + filter);
}

std::vector<Entry> LdapSession::find(const std::string& base, int scope, const std::string& filter,
                                     const std::vector<std::string>& attributes, int sizeLimit,
                                     const std::string& doing) {
  LDAP* ld = connection();
  std::vector<char*> names;
  for (const auto& name : attributes) names.push_back(const_cast<char*>(name.c_str()));
  names.push_back(nullptr);
  LDAPMessage* raw = nullptr;
  const int rc = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(),
                                   attributes.empty() ? nullptr : names.data(), 0, nullptr, nullptr,
                                   nullptr, sizeLimit, &raw);
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

// LDAPMod arrays that point into the caller's strings.
class Modifications {
 public:
  Modifications(const std::vector<AttributeValues>& attributes, int op) {
    // Reserved up front: the arrays point into each other.
    values_.reserve(attributes.size());
    valuePointers_.reserve(attributes.size());
    mods_.reserve(attributes.size());
    for (const auto& attribute : attributes) {
      auto& values = values_.emplace_back();
      for (const auto& value : attribute.values) {
        values.push_back(
            berval{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())});
      }
      auto& pointers = valuePointers_.emplace_back();
      for (auto& value : values) pointers.push_back(&value);
      pointers.push_back(nullptr);
      LDAPMod& mod = mods_.emplace_back();
      mod.mod_op = op | LDAP_MOD_BVALUES;
      mod.mod_type = const_cast<char*>(attribute.name.c_str());
      mod.mod_bvalues = pointers.data();
    }
    for (auto& mod : mods_) modPointers_.push_back(&mod);
    modPointers_.push_back(nullptr);
  }

  LDAPMod** get() { return modPointers_.data(); }

 private:
  std::vector<std::vector<berval>> values_;
  std::vector<std::vector<berval*>> valuePointers_;
  std::vector<LDAPMod> mods_;
  std::vector<LDAPMod*> modPointers_;
};

}  // namespace

void LdapSession::add(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  LDAP* ld = connection();
  Modifications mods(attributes, LDAP_MOD_ADD);
  const int rc = ldap_add_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr);
  if (rc != LDAP_SUCCESS) fail(rc, "add " + dn);
}

void LdapSession::replace(const std::string& dn, const std::vector<AttributeValues>& attributes) {
  LDAP* ld = connection();
  Modifications mods(attributes, LDAP_MOD_REPLACE);
  const int rc = ldap_modify_ext_s(ld, dn.c_str(), mods.get(), nullptr, nullptr);
  if (rc != LDAP_SUCCESS) fail(rc, "modify " + dn);
}

}  // namespace kestrine
