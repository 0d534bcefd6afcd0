#pragma once

#include "platform/linux/ldap/ldap_directory.h"
#include "platform/linux/host_services.h"

namespace kestrine {

// The platform objects the import run works with, chosen here and only here.
struct PlatformServices {
  LdapDirectory directory;
  HostServiceObjects serviceObjects{directory};
};

}  // namespace kestrine
