#pragma once

#include "platform/ldap/ldap_directory.h"
#include "platform/posix/local_file_system.h"

namespace kestrine {

// The platform objects the import run works with, chosen here and only here.
struct PlatformServices {
  LdapDirectory directory;
  LocalServiceObjects serviceObjects;
};

}  // namespace kestrine
