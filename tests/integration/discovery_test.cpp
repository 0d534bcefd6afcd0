// With no server in libldap's configuration, the import finds the domain
// controller through the DNS SRV records of the Kerberos realm's domain.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/dn.h"
#include "tests/integration/sandbox.h"

namespace kestrine::testing {
namespace {

TEST(Discovery, ImportFindsTheDomainControllerThroughDns) {
  Sandbox sandbox;
  const std::string tag = "kd" + std::to_string(getpid() % 100000);
  const auto folder = std::filesystem::temp_directory_path() / ("kestrine-" + tag);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "ldap.conf") << "SASL_NOCANON on\n";  // no URI, no HOST
  std::ofstream(folder / "users.csv") << tag << ",Dns Found,D,F,Pa55word!x," << tag
                                      << ",kestrine.test," << sandbox.server() << ",home\n";

  const std::string command = "LDAPCONF=" + (folder / "ldap.conf").string() + " " +
                              KESTRINE_CONSOLE + " " + (folder / "users.csv").string();
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::array<char, 512> buffer{};
  while (fgets(buffer.data(), buffer.size(), pipe)) output += buffer.data();
  const int status = pclose(pipe);

  const std::string unitDn = childDn("OU=" + tag, sandbox.domainDn());
  const bool created = !sandbox.read(childDn("cn=Dns Found", unitDn)).dn.empty();
  sandbox.removeTree(unitDn);
  sandbox.removeFromShare(tag);
  std::filesystem::remove_all(folder);

  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("complete: 1 Users and Folders were added successfully!"),
            std::string::npos)
      << output;
  EXPECT_TRUE(created);
}

}  // namespace
}  // namespace kestrine::testing
