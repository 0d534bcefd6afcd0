#pragma once

#include "platform/directory/directory_connection.h"
#include "platform/directory/session_directory.h"
#include "platform/win32/wldap_session.h"

namespace kestrine {

// The directory through the Windows LDAP library: "LDAP://rootDSE" and
// "LDAP://<dn>" on a domain controller of this machine's domain, over one
// connection for the whole run, reopened when it is lost.
class Win32Directory : public SessionDirectory {
 public:
  // The program binds with Negotiate and keeps the default settings; tests
  // may bind otherwise and wait less. Without a wait, wldap32 is called on
  // the caller's thread.
  explicit Win32Directory(WldapBind bind = WldapBind::negotiate(), ConnectionSettings settings = {},
                          NetworkWait* wait = nullptr)
      : SessionDirectory(std::make_shared<WldapSession>(std::move(bind), settings, wait)) {}
};

}  // namespace kestrine
