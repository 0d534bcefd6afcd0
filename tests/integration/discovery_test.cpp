// How the program finds and binds the domain controller, run as the real
// program with the environment of each case: libldap and the SASL library
// read their configuration once per process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/directory/dn.h"
#include "tests/integration/sandbox.h"

namespace kestrine::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(folder); }
  void TearDown() override {
    sandbox.removeTree(unitDn());
    sandbox.removeFromShare(tag);
    std::filesystem::remove_all(folder);
  }

  std::string unitDn() const { return childDn("OU=" + tag, sandbox.domainDn()); }
  bool created() { return !sandbox.read(childDn("cn=Found " + tag, unitDn())).dn.empty(); }

  // kestrine-console's output for one record, with `environment` before it.
  std::string import(const std::string& environment) {
    std::ofstream(folder / "users.csv") << tag << ",Found " << tag << ",D,F,Pa55word!x," << tag
                                        << ",kestrine.test," << sandbox.server() << ",home\n";
    const std::string command =
        environment + " " + KESTRINE_CONSOLE + " " + (folder / "users.csv").string() + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "cannot run " + command;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) output += buffer.data();
    pclose(pipe);
    return output;
  }

  Sandbox sandbox;
  const std::string tag = "kd" + std::to_string(getpid() % 100000);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("kestrine-" + tag);
};

TEST_F(DiscoveryTest, ImportFindsTheControllerThroughDnsAndBindsWithoutItsReverseName) {
  // No ldap.conf at all (libldap's defaults: no server, names canonicalized
  // by reverse lookups), and no name for the controller's address.
  sandboxDomain("reverse-names off");
  const std::string output = import("LDAPNOINIT=1");
  sandboxDomain("reverse-names on");
  EXPECT_THAT(output, HasSubstr("complete: 1 Users and Folders were added successfully!"));
  EXPECT_TRUE(created());
}

TEST_F(DiscoveryTest, WhatTheBindLacksIsNamedOnEveryRecord) {
  const auto noSasl = folder / "no-sasl-modules";
  std::filesystem::create_directories(noSasl);
  const auto noRealm = folder / "krb5.conf";
  std::ofstream(noRealm) << "[libdefaults]\n\tdns_lookup_realm = false\n";
  const auto missing = folder / "missing.conf";
  const std::string noServer =
      "find the domain controller: no server in ldap.conf (URI) and no default Kerberos realm "
      "to look one up in DNS: ";
  const struct {
    std::string environment;
    std::string reason;
  } cases[] = {
      {"SASL_PATH=" + noSasl.string(),
       "GSSAPI bind to ldap://" + sandbox.server() +
           ":389: the Kerberos (GSSAPI) module of the SASL library is not installed (Debian "
           "package libsasl2-modules-gssapi-mit)"},
      {"LDAPNOINIT=1 KRB5_CONFIG=" + noRealm.string(),
       noServer + noRealm.string() + " (KRB5_CONFIG) names no default_realm in [libdefaults]"},
      {"LDAPNOINIT=1 KRB5_CONFIG=" + missing.string(),
       noServer + missing.string() + " (KRB5_CONFIG) does not exist"},
      {"LDAPURI=ldap://" + sandbox.address(),
       " (Kerberos needs the server's host name in ldap.conf, not its address)"},
  };
  for (const auto& c : cases) {
    const std::string output = import(c.environment);
    const auto line = [&](const std::string& start) {
      const auto at = output.find("\n" + start);
      return at == std::string::npos ? "" : output.substr(at, output.find('\n', at + 1) - at);
    };
    EXPECT_THAT(line("bind the directory (rootDSE): "), HasSubstr(c.reason)) << output;
    EXPECT_THAT(line(tag + ": not attempted: "), HasSubstr(c.reason)) << output;
    EXPECT_THAT(output, Not(HasSubstr("could not be reached"))) << output;
    EXPECT_FALSE(created());
  }
}

}  // namespace
}  // namespace kestrine::testing
