#include "platform/linux/ldap/ldap_directory.h"

#include "platform/linux/ldap/ldap_session.h"

namespace kestrine {

LdapDirectory::LdapDirectory(ConnectionSettings settings)
    : SessionDirectory(std::make_shared<LdapSession>(settings)) {}

}  // namespace kestrine
