#include "platform/dn.h"

#include <ldap.h>

#include <cstring>
#include <memory>
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

berval bervalOf(std::string_view text) {
  return berval{static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
}

DnHandle parseDn(std::string_view text) {
  LDAPDN dn = nullptr;
  berval value = bervalOf(text);
  const int rc = ldap_bv2dn(&value, &dn, LDAP_DN_FORMAT_LDAPV3);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(LDAP_INVALID_DN_SYNTAX,
                         "\"" + std::string(text) + "\" is not a distinguished name");
  }
  return DnHandle(dn);
}

std::string formatDn(LDAPDN dn) {
  char* text = nullptr;
  const int rc = ldap_dn2str(dn, &text, kFormat);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(LDAP_INVALID_DN_SYNTAX,
                         std::string("cannot write a distinguished name: ") + ldap_err2string(rc));
  }
  return takeText(text);
}

}  // namespace

std::string escapeDnValue(std::string_view value) {
  // libldap escapes a value as part of a whole relative name; use a one-letter
  // attribute and keep what follows its "=".
  LDAPAVA ava{};
  ava.la_attr = bervalOf("x");
  ava.la_value = bervalOf(value);
  ava.la_flags = LDAP_AVA_STRING;
  LDAPAVA* rdn[] = {&ava, nullptr};
  char* text = nullptr;
  const int rc = ldap_rdn2str(rdn, &text, kFormat);
  if (rc != LDAP_SUCCESS) {
    throw DirectoryError(LDAP_INVALID_DN_SYNTAX,
                         "cannot escape \"" + std::string(value) + "\": " + ldap_err2string(rc));
  }
  return takeText(text).substr(2);
}

std::string normalizeDn(std::string_view dn) {
  if (dn.empty()) return {};
  return formatDn(parseDn(dn).get());
}

std::string childDn(std::string_view relativeName, std::string_view parentDn) {
  LDAPRDN rdn = nullptr;
  char* next = nullptr;
  const std::string rdnText(relativeName);
  // libldap asserts on an empty relative name rather than refusing it.
  const int rc = rdnText.empty()
                     ? LDAP_INVALID_DN_SYNTAX
                     : ldap_str2rdn(rdnText.c_str(), &rdn, &next, LDAP_DN_FORMAT_LDAPV3);
  RdnHandle rdnOwner(rdn);
  if (rc != LDAP_SUCCESS || (next && *next != '\0')) {
    throw DirectoryError(LDAP_INVALID_DN_SYNTAX,
                         "\"" + rdnText + "\" is not a single relative name");
  }
  DnHandle parent = parentDn.empty() ? nullptr : parseDn(parentDn);
  std::vector<LDAPRDN> parts{rdn};
  for (LDAPDN p = parent.get(); p && *p; ++p) parts.push_back(*p);
  parts.push_back(nullptr);
  return formatDn(parts.data());
}

}  // namespace kestrine
