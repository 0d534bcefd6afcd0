#pragma once

#include "platform/network_wait.h"

#ifdef _WIN32
#include "platform/win32/win32_directory.h"
#include "platform/win32/win32_services.h"
#else
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
#endif

namespace kestrine {

// The platform objects the import run works with, chosen here and only here.
// Their library calls run through `wait`.
#ifdef _WIN32
struct PlatformServices {
  explicit PlatformServices(NetworkWait& wait)
      : directory(WldapBind::negotiate(), {}, &wait), serviceObjects(&wait) {}
  Win32Directory directory;
  Win32ServiceObjects serviceObjects;
};
#else
struct PlatformServices {
  explicit PlatformServices(NetworkWait& wait) : directory({}, &wait), serviceObjects(&wait) {}
  LdapDirectory directory;
  HostServiceObjects serviceObjects;
};
#endif

}  // namespace kestrine
