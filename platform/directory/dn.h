#pragma once

#include <string>
#include <string_view>

// Distinguished names as LDAPv3 writes them (RFC 4514), without libldap, so
// that the core builds where libldap does not exist. The text written is the
// form OpenLDAP's "pretty" LDAPv3 writer gives: special characters as \XX,
// everything else, UTF-8 included, as it is. Every failure throws a
// DirectoryError with code 34, LDAP's "invalid DN syntax".

namespace kestrine {

// The value escaped so that it can follow "OU=" or "cn=" and stay one value
// whatever it holds. Throws for text that is not UTF-8: a directory name is
// Unicode, and no escape would make such bytes a name.
std::string escapeDnValue(std::string_view value);

// The distinguished name in canonical form: blanks around separators
// dropped, each value re-escaped, attribute types spelled as given. Empty
// text is the empty name.
std::string normalizeDn(std::string_view dn);

// The canonical name of the child `relativeName` ("OU=Sales", exactly one
// relative name, possibly multi-valued) of `parentDn` ("" for none).
std::string childDn(std::string_view relativeName, std::string_view parentDn);

// The ADSI path that binds to the object: "LDAP://" and the canonical name,
// with '/' escaped as "\/" because ADSI splits paths there (LDAP itself
// allows no such escape, so names hold a plain '/').
std::string adsPath(std::string_view dn);

}  // namespace kestrine
