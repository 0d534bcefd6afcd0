#include "platform/dn.h"

#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/directory.h"

namespace kestrine {

namespace {

constexpr unsigned kFormat = LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY;

struct DnDeleter {
  void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnHandle = std::unique_ptr<LDAPRDN, DnDeleter>;

struct RdnDeleter {
  void operator()(LDAPRDN rdn) const { ldap_rdnfree(rdn); }
};
using RdnHandle = std::unique_ptr<LDAPAVA*, RdnDeleter>;

struct LdapMemoryDeleter {
  void operator()(char* text) const { ldap_memfree(text); }
};

std::string takeText(char* text) {
  std::unique_ptr<char, LdapMemoryDeleter> owner(text);
  return owner ? std::string(owner.get()) : std::string();
}

berval bervalOf(const std::string& text) {
  return berval{static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
}

[[noreturn]] void refuse(const std::string& what) {
  throw DirectoryError(LDAP_INVALID_DN_SYNTAX, what);
}

// libldap's parser reads C strings: it asserts on an empty or NUL-led text,
// and a NUL further on would silently end it. Every text it parses is an
// owned copy, so a NUL always follows the last byte.
std::string parsableCopy(std::string_view text, const char* what) {
  if (text.find('\0') != std::string_view::npos) {
    refuse(std::string(what) + " cannot hold a NUL character");
  }
  return std::string(text);
}

DnHandle parseDn(std::string_view text) {
  const std::string copy = parsableCopy(text, "a distinguished name");
  if (copy.empty()) return nullptr;
  LDAPDN dn = nullptr;
  berval value = bervalOf(copy);
  const int rc = ldap_bv2dn(&value, &dn, LDAP_DN_FORMAT_LDAPV3);
  DnHandle owner(dn);
  if (rc != LDAP_SUCCESS || !dn) refuse("\"" + copy + "\" is not a distinguished name");
  return owner;
}

RdnHandle parseRdn(std::string_view text) {
  const std::string copy = parsableCopy(text, "a relative name");
  const std::string refusal = "\"" + copy + "\" is not a single relative name";
  if (copy.empty()) refuse(refusal);
  LDAPRDN rdn = nullptr;
  char* next = nullptr;
  berval value = bervalOf(copy);
  const int rc = ldap_bv2rdn(&value, &rdn, &next, LDAP_DN_FORMAT_LDAPV3);
  RdnHandle owner(rdn);
  if (rc != LDAP_SUCCESS || !rdn || next != copy.data() + copy.size()) refuse(refusal);
  return owner;
}

std::string formatDn(LDAPDN dn) {
  if (!dn) return {};
  char* text = nullptr;
  const int rc = ldap_dn2str(dn, &text, kFormat);
  std::string formatted = takeText(text);
  if (rc != LDAP_SUCCESS) {
    refuse(std::string("cannot write a distinguished name: ") + ldap_err2string(rc));
  }
  return formatted;
}

}  // namespace

std::string escapeDnValue(std::string_view value) {
  // libldap escapes a value as part of a whole relative name; use a one-letter
  // attribute and keep what follows its "=". A NUL in the value comes out as
  // \00. The copy puts a NUL after the value, where libldap's UTF-8 check may
  // look past a truncated sequence.
  const std::string copy(value);
  const std::string attribute = "x";
  LDAPAVA ava{};
  ava.la_attr = bervalOf(attribute);
  ava.la_value = bervalOf(copy);
  ava.la_flags = LDAP_AVA_STRING;
  LDAPAVA* rdn[] = {&ava, nullptr};
  char* text = nullptr;
  const int rc = ldap_rdn2str(rdn, &text, kFormat);
  std::string escaped = takeText(text);
  if (rc != LDAP_SUCCESS || escaped.size() < 2) {
    refuse("cannot escape \"" + copy + "\": " + ldap_err2string(rc));
  }
  return escaped.substr(2);
}

std::string normalizeDn(std::string_view dn) {
  return formatDn(parseDn(dn).get());
}

std::string childDn(std::string_view relativeName, std::string_view parentDn) {
  const RdnHandle rdn = parseRdn(relativeName);
  const DnHandle parent = parseDn(parentDn);
  std::vector<LDAPRDN> parts{rdn.get()};
  for (LDAPDN p = parent.get(); p && *p; ++p) parts.push_back(*p);
  parts.push_back(nullptr);
  return formatDn(parts.data());
}

}  // namespace kestrine
