#include "platform/linux/ldap/ldap_directory.h"

#include "platform/linux/ldap/ldap_session.h"

namespace kestrine {

LdapDirectory::LdapDirectory(ConnectionSettings settings, NetworkWait* wait)
    : SessionDirectory(std::make_shared<LdapSession>(settings, wait)) {}

}  // namespace kestrine
