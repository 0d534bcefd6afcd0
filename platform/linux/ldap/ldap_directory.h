#pragma once

#include "platform/directory/directory_connection.h"
#include "platform/directory/directory_values.h"
#include "platform/directory/session_directory.h"

namespace kestrine {

// The directory through OpenLDAP's libldap: "LDAP://rootDSE" and
// "LDAP://<dn>" on the server that libldap's configuration or DNS names, over
// one connection for the whole run, reopened when it is lost.
class LdapDirectory : public SessionDirectory {
 public:
  // The program keeps the default settings; tests may wait less. Without a
  // wait, libldap is called on the caller's thread.
  explicit LdapDirectory(ConnectionSettings settings = {}, NetworkWait* wait = nullptr);
};

}  // namespace kestrine
