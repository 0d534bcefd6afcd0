// The import run against the sandbox domain, checked by reading the directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/dn.h"
#include "platform/host_services.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/smb/smb_context.h"
#include "platform/smb/smb_permissions.h"
#include "run/import_run.h"
#include "tests/fakes/fakes.h"
#include "tests/integration/sandbox.h"

namespace kestrine::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr int kNormalAccount = 512;
constexpr int kDisabled = 2;

class ImportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sandbox = std::make_unique<Sandbox>(); }
  static void TearDownTestSuite() { sandbox.reset(); }

  void SetUp() override {
    static int counter = 0;
    tag = "k" + std::to_string(getpid() % 100000) + static_cast<char>('a' + counter++ % 26);
    directory = std::filesystem::temp_directory_path() / ("kestrine-" + tag);
    std::filesystem::create_directories(directory);
  }
  void TearDown() override {
    for (const auto& unit : units) sandbox->removeTree(unitDn(unit));
    sandbox->removeFromShare(tag);
    std::filesystem::remove_all(directory);
  }

  // A unit name of this test's own, removed afterwards.
  std::string unit(const std::string& name) {
    units.push_back(tag + " " + name);
    return units.back();
  }
  std::string account(const std::string& name) const { return tag + name; }
  std::string unitDn(const std::string& unit) const {
    return childDn("OU=" + escapeDnValue(unit), sandbox->domainDn());
  }
  Entry user(const std::string& unit, const std::string& commonName) const {
    return sandbox->read(childDn("cn=" + escapeDnValue(commonName), unitDn(unit)));
  }

  struct Outcome {
    std::string completeText;
    std::vector<std::string> messages;
  };
  // One import run, as a new process of the program would make it.
  Outcome import(const std::vector<std::string>& lines) {
    const auto path = directory / "users.csv";
    std::ofstream file(path, std::ios::binary);
    for (const auto& line : lines) file << line << "\r\n";
    file.close();
    CallLog log;
    RecordingView view(log, path.string());
    LdapDirectory ldap;
    HostServiceObjects services(ldap);
    ImportRun(view, ldap, services).run();
    Outcome outcome{view.completeText, {}};
    for (const auto& entry : log.entries) {
      if (entry.rfind("message", 0) == 0) outcome.messages.push_back(entry);
    }
    return outcome;
  }
  std::string line(const std::string& name, const std::string& commonName, const std::string& unit,
                   const std::string& password = "Pa55word!x") const {
    return account(name) + "," + commonName + ",First " + name + ",Last " + name + "," + password +
           "," + unit + ",kestrine.test," + sandbox->server() + ",home,scripts\\" + name + ".cmd";
  }

  std::string homeFolder(const std::string& name) const {
    return "\\\\" + sandbox->server() + "\\home$\\" + account(name);
  }
  // The access entries of a file or folder on the share, as SID:type/flags/mask.
  std::vector<std::string> accessEntries(const std::string& path) {
    const std::string descriptor = smb.securityDescriptor(*parseUncPath(path));
    std::vector<std::string> entries;
    for (std::size_t at = descriptor.find("ACL:"); at != std::string::npos;
         at = descriptor.find("ACL:", at + 4)) {
      entries.push_back(descriptor.substr(at + 4, descriptor.find(',', at) - at - 4));
    }
    return entries;
  }
  std::vector<std::string> fullControlFor(const std::string& name, const char* flags) {
    const Entry entry = sandbox->read(userDn(name));
    const std::string suffix = std::string(":0/") + flags + "/0x001f01ff";
    return {std::string(kAdministratorsSid) + suffix, sidText(first(entry, "objectSid")) + suffix};
  }
  std::string userDn(const std::string& name) {
    const auto found = sandbox->read(childDn("cn=" + escapeDnValue(name), unitDn(units.front())));
    return found.dn;
  }

  static std::unique_ptr<Sandbox> sandbox;
  SmbContext smb;
  std::string tag;
  std::filesystem::path directory;
  std::vector<std::string> units;
};

std::unique_ptr<Sandbox> ImportTest::sandbox;

TEST_F(ImportTest, AccountsGetEveryAttributeAndAWorkingPassword) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("jd", "John Doe", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages, IsEmpty());

  const Entry entry = user(sales, "John Doe");
  ASSERT_FALSE(entry.dn.empty());
  EXPECT_EQ(first(entry, "sAMAccountName"), account("jd"));
  EXPECT_EQ(first(entry, "givenName"), "First jd");
  EXPECT_EQ(first(entry, "sn"), "Last jd");
  EXPECT_EQ(first(entry, "userPrincipalName"), account("jd") + "@kestrine.test");
  EXPECT_EQ(first(entry, "scriptPath"), "scripts\\jd.cmd");
  EXPECT_EQ(first(entry, "accountExpires"), "0");
  EXPECT_EQ(std::stoi(first(entry, "userAccountControl")), kNormalAccount);
  EXPECT_NE(first(entry, "pwdLastSet"), "0");
  EXPECT_NE(first(entry, "pwdLastSet"), "");
  EXPECT_TRUE(sandbox->passwordWorks(account("jd"), "Pa55word!x"));
  EXPECT_FALSE(sandbox->passwordWorks(account("jd"), "wrong"));
}

TEST_F(ImportTest, UnitsAreCreatedOnceAndShared) {
  const auto sales = unit("Sales");
  const auto support = unit("Support");
  const auto outcome = import({line("a1", "Ann One", sales), line("b2", "Bob Two", support),
                               line("c3", "Cid Three", sales)});
  EXPECT_EQ(outcome.completeText, "3 Users and Folders were added successfully!");
  EXPECT_EQ(first(sandbox->read(unitDn(sales)), "ou"), sales);
  EXPECT_EQ(first(sandbox->read(unitDn(support)), "ou"), support);
  EXPECT_FALSE(user(sales, "Ann One").dn.empty());
  EXPECT_FALSE(user(sales, "Cid Three").dn.empty());
  EXPECT_FALSE(user(support, "Bob Two").dn.empty());

  // A unit left by an earlier run is no failure either.
  EXPECT_EQ(import({line("d4", "Dee Four", sales)}).completeText,
            "1 Users and Folders were added successfully!");
}

TEST_F(ImportTest, ExistingAccountIsLeftUnchangedAndReported) {
  const auto sales = unit("Sales");
  import({line("jd", "John Doe", sales)});
  const Entry before = user(sales, "John Doe");

  auto again = line("jd", "John Doe", sales, "0ther!Pass");
  again.replace(again.find("First jd"), 8, "Changed");
  const auto outcome = import({again});
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 1 failed.");
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0],
              HasSubstr("[Kestrine] " + account("jd") + ": write the account: "));
  EXPECT_THAT(outcome.messages[0], HasSubstr("(LDAP 68)"));

  const Entry after = user(sales, "John Doe");
  EXPECT_EQ(first(after, "givenName"), "First jd");
  EXPECT_EQ(first(after, "whenChanged"), first(before, "whenChanged"));
  EXPECT_TRUE(sandbox->passwordWorks(account("jd"), "Pa55word!x"));
}

TEST_F(ImportTest, RefusedPasswordLeavesTheAccountDisabledAndReported) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("wk", "Weak Key", sales, "abc")});
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 1 failed.");
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0], HasSubstr(account("wk") + ": set the password: "));

  const Entry entry = user(sales, "Weak Key");
  ASSERT_FALSE(entry.dn.empty());
  EXPECT_EQ(first(entry, "sAMAccountName"), account("wk"));
  EXPECT_TRUE(std::stoi(first(entry, "userAccountControl")) & kDisabled);
  EXPECT_EQ(first(entry, "scriptPath"), "scripts\\wk.cmd");
  EXPECT_FALSE(sandbox->passwordWorks(account("wk"), "abc"));
}

TEST_F(ImportTest, NamesWithDistinguishedNameCharactersLandWhereTheyShould) {
  const auto odd = unit("R+D=1; <Lab> \"x\" #2\\ ");
  const std::string commonName = "#Doe; John + Jr. <x> \"q\"=\\ ";
  const auto outcome = import({line("sp", commonName, odd)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_EQ(first(sandbox->read(unitDn(odd)), "ou"), odd);
  const Entry entry = user(odd, commonName);
  ASSERT_FALSE(entry.dn.empty());
  EXPECT_EQ(first(entry, "cn"), commonName);
  EXPECT_EQ(first(entry, "sAMAccountName"), account("sp"));
}

TEST_F(ImportTest, ShortRecordCarriesOverTheEarlierRecordsValues) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("jd", "John Doe", sales), account("kr") + ",Kim Roe"});
  EXPECT_EQ(outcome.completeText, "2 Users and Folders were added successfully!");
  const Entry kim = user(sales, "Kim Roe");
  ASSERT_FALSE(kim.dn.empty());
  EXPECT_EQ(first(kim, "givenName"), "First jd");
  EXPECT_EQ(first(kim, "userPrincipalName"), account("kr") + "@kestrine.test");
  EXPECT_EQ(first(kim, "scriptPath"), "scripts\\jd.cmd");
  EXPECT_TRUE(sandbox->passwordWorks(account("kr"), "Pa55word!x"));
}

TEST_F(ImportTest, TwelveColumnLineUsesTheFirstTen) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("tw", "Twelve Cols", sales) + ",extra,more"});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_EQ(first(user(sales, "Twelve Cols"), "scriptPath"), "scripts\\tw.cmd");
}

TEST_F(ImportTest, NonAsciiNamesAndPasswordsWork) {
  const auto zurich = unit("Z\xC3\xBCrich");
  const std::string password = "P\xC3\xA4sswort!\xE2\x82\xAC";
  const auto outcome =
      import({"\xEF\xBB\xBF" + line("zo", "Zo\xC3\xAB M\xC3\xBCller", zurich, password)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  const Entry entry = user(zurich, "Zo\xC3\xAB M\xC3\xBCller");
  ASSERT_FALSE(entry.dn.empty());
  EXPECT_EQ(first(entry, "sAMAccountName"), account("zo"));  // the byte-order mark is gone
  EXPECT_TRUE(sandbox->passwordWorks(account("zo"), password));
}

TEST_F(ImportTest, NewHomeFolderGetsExactlyTheTwoInheritableEntries) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("hf", "Home Folder", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages, IsEmpty());
  EXPECT_TRUE(std::filesystem::is_directory(sandbox->shareDir() + "/" + account("hf")));
  EXPECT_EQ(accessEntries(homeFolder("hf")), fullControlFor("Home Folder", "3"));
}

TEST_F(ImportTest, ExistingHomeFolderIsReplacedOnEverythingBelow) {
  const auto sales = unit("Sales");
  const std::filesystem::path local = sandbox->shareDir() + "/" + account("ex");
  std::filesystem::create_directories(local / "sub");
  std::ofstream(local / "notes.txt") << "kept\n";
  std::ofstream(local / "sub" / "deep.txt") << "kept\n";

  const auto outcome = import({line("ex", "Ex Isting", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages, IsEmpty());
  const auto folder = fullControlFor("Ex Isting", "3");
  const auto file = fullControlFor("Ex Isting", "0");
  EXPECT_EQ(accessEntries(homeFolder("ex")), folder);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\sub"), folder);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\notes.txt"), file);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\sub\\deep.txt"), file);
  std::ifstream kept(local / "sub" / "deep.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n");
}

TEST_F(ImportTest, FolderOnAnUnreachableServerOrMissingShareIsToldWithItsPath) {
  const auto sales = unit("Sales");
  auto noServer = line("ns", "No Server", sales);
  noServer.replace(noServer.find(sandbox->server()), sandbox->server().size(), "nohost.invalid");
  auto refused = line("rf", "Refused", sales);
  refused.replace(refused.find(sandbox->server()), sandbox->server().size(), "127.0.0.9");
  auto noShare = line("nh", "No Share", sales);
  noShare.replace(noShare.find(",home,"), 6, ",nosuch,");

  const auto outcome = import({noServer, refused, noShare});
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 3 failed.");
  ASSERT_EQ(outcome.messages.size(), 4u);
  EXPECT_EQ(outcome.messages[0],
            "message 0 [] Cannot create: \\\\nohost.invalid\\home$\\" + account("ns"));
  EXPECT_EQ(outcome.messages[1],
            "message 0 [] Cannot create: \\\\127.0.0.9\\home$\\" + account("rf"));
  EXPECT_EQ(outcome.messages[2],
            "message 0 [] Cannot create: \\\\" + sandbox->server() + "\\nosuch$\\" + account("nh"));
  EXPECT_THAT(outcome.messages[3], HasSubstr(account("nh") + ": create the home folder: "));
}

TEST_F(ImportTest, AccountTheDomainDoesNotKnowGetsThePermissionMessage) {
  const auto sales = unit("Sales");
  // The second account's name is taken, so it is never created; its folder is.
  const auto outcome = import({line("jd", "John Doe", sales), line("jx", "John Doe", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully! 1 failed.");
  ASSERT_EQ(outcome.messages.size(), 2u);
  EXPECT_EQ(outcome.messages[0], "message 0 [] Error assigning permissions for user " +
                                     account("jx") + " to home folder " + homeFolder("jx"));

  LdapDirectory ldap;
  HostServiceObjects services(ldap);
  const auto grant = services.createShell()->grantFullControl(homeFolder("jx"), account("jx"));
  EXPECT_NE(grant.exitCode, 0);
  EXPECT_THAT(grant.reason, HasSubstr("no such account"));
}

TEST_F(ImportTest, UnreachableDirectoryFailsEveryRecordWithTheReason) {
  // libldap reads its configuration once per process: change its default.
  char* configured = nullptr;
  ldap_get_option(nullptr, LDAP_OPT_URI, &configured);
  const std::string saved = configured ? configured : "";
  ldap_memfree(configured);
  ldap_set_option(nullptr, LDAP_OPT_URI, "ldap://127.0.0.1:1");
  const auto outcome = import({line("nd", "No Dir", unit("Sales"))});
  ldap_set_option(nullptr, LDAP_OPT_URI, saved.c_str());
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 1 failed.");
  // The home folder is made all the same; the grant cannot find the account.
  ASSERT_EQ(outcome.messages.size(), 2u);
  EXPECT_THAT(outcome.messages[0],
              HasSubstr("Error assigning permissions for user " + account("nd")));
  EXPECT_THAT(outcome.messages[1], HasSubstr("bind the directory (rootDSE): "));
  EXPECT_THAT(outcome.messages[1], HasSubstr("Can't contact LDAP server"));
}

}  // namespace
}  // namespace kestrine::testing
