// Home folders are made and granted for a record's own account only: never
// for a logon name that belongs to someone else;
// and a second run of the same file changes no account and repairs folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/ldap/ldap_directory.h"
#include "tests/integration/import_fixture.h"

namespace kestrine::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kOneFailed = "0 Users and Folders were added successfully! 1 failed.";
constexpr int kDisabled = 2;

class OwnAccounts : public ImportFixture {
 protected:
  std::string sidOf(const std::string& commonName, const std::string& unit) {
    return sidText(first(user(unit, commonName), "objectSid"));
  }
  void addUsersMayRead(const std::string& folder, const std::string& sid) {
    setAccessList(folder, {"S-1-5-32-544", sid}, true);
  }
  // A record for the logon name `logon`, which carries no tag.
  std::string recordFor(const std::string& logon, const std::string& commonName,
                        const std::string& unit) const {
    const std::string record = line("xx", commonName, unit);
    return logon + record.substr(account("xx").size());
  }
};

class ForeignLogonName : public OwnAccounts, public ::testing::WithParamInterface<const char*> {};

TEST_P(ForeignLogonName, AccountStepFailsAndTheFolderIsLeftAlone) {
  const std::string logon = GetParam();
  const auto sales = unit("Sales");
  const std::string holderDn = "CN=" + std::string(logon == "krbtgt" ? "krbtgt" : "Administrator") +
                               ",CN=Users," + sandbox->domainDn();
  const Entry holderBefore = sandbox->read(holderDn);
  ASSERT_FALSE(holderBefore.dn.empty());
  const std::filesystem::path folder = sandbox->shareDir() + "/" + attributeKey(logon);
  ASSERT_FALSE(std::filesystem::exists(folder)) << "left by an earlier run";

  const auto outcome = import({recordFor(logon, "Foreign Try", sales)});
  const bool folderMade = std::filesystem::exists(folder);
  if (folderMade) std::filesystem::remove_all(folder);

  EXPECT_EQ(outcome.completeText, kOneFailed);
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(
      outcome.messages[0],
      HasSubstr(logon + ": home folder left alone: the logon name belongs to " + holderBefore.dn));
  EXPECT_FALSE(folderMade);
  EXPECT_TRUE(user(sales, "Foreign Try").dn.empty());
  EXPECT_EQ(sandbox->read(holderDn).attributes, holderBefore.attributes);
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, ForeignLogonName,
                         ::testing::Values("administrator", "Administrator", "krbtgt"));

TEST_F(OwnAccounts, LogonNameOfAnAccountInAnotherUnitLeavesItsFolderAlone) {
  const auto owners = unit("Owners");
  const auto others = unit("Others");
  ASSERT_EQ(import({line("ow", "Owner One", owners)}).completeText,
            "1 Users and Folders were added successfully!");
  std::ofstream(sandbox->shareDir() + "/" + account("ow") + "/notes.txt") << "the owner's\n";
  addUsersMayRead(homeFolder("ow"), sidOf("Owner One", owners));
  const auto folderBefore = folderState(homeFolder("ow"));
  const Entry ownerBefore = user(owners, "Owner One");

  const auto outcome = import({line("ow", "Someone Else", others)});
  EXPECT_EQ(outcome.completeText, kOneFailed);
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0],
              HasSubstr(account("ow") + ": home folder left alone: the logon name belongs to " +
                        ownerBefore.dn));
  EXPECT_TRUE(user(others, "Someone Else").dn.empty());
  EXPECT_EQ(folderState(homeFolder("ow")), folderBefore);
  EXPECT_EQ(user(owners, "Owner One").attributes, ownerBefore.attributes);
}

TEST_F(OwnAccounts, SecondRunOfTheSameFileChangesNoAccountAndRepairsItsFolders) {
  const auto sales = unit("Sales");
  const std::vector<std::string> lines = {line("r1", "Re One", sales), line("r2", "Re Two", sales),
                                          line("r3", "Re Three", sales)};
  ASSERT_EQ(import(lines).completeText, "3 Users and Folders were added successfully!");
  std::vector<Entry> accountsBefore;
  for (const char* name : {"Re One", "Re Two", "Re Three"}) {
    accountsBefore.push_back(user(sales, name));
  }
  // Damage: an entry added, the account's entry gone, a sub-folder the
  // account may not touch.
  addUsersMayRead(homeFolder("r1"), sidOf("Re One", sales));
  setAccessList(homeFolder("r2"), {"S-1-5-32-544"});
  std::filesystem::create_directory(sandbox->shareDir() + "/" + account("r3") + "/sub");
  setAccessList(homeFolder("r3") + "\\sub", {"S-1-5-32-544"});

  const auto outcome = import(lines);
  EXPECT_EQ(outcome.completeText,
            "0 Users and Folders were added successfully! 3 already existed.");
  EXPECT_THAT(outcome.messages, IsEmpty());
  for (const Entry& before : accountsBefore) {
    EXPECT_EQ(sandbox->read(before.dn).attributes, before.attributes) << before.dn;
  }
  EXPECT_EQ(accessEntries(homeFolder("r1")), fullControlFor("Re One", "0x3"));
  EXPECT_EQ(accessEntries(homeFolder("r2")), fullControlFor("Re Two", "0x3"));
  EXPECT_EQ(accessEntries(homeFolder("r3") + "\\sub"), fullControlFor("Re Three", "0x3"));
}

TEST_F(OwnAccounts, AccountLeftDisabledByARefusedPasswordStaysSoOnASecondRun) {
  const auto sales = unit("Sales");
  const std::vector<std::string> lines = {line("wk", "Weak Key", sales, "x")};
  EXPECT_EQ(import(lines).completeText, kOneFailed);
  const Entry before = user(sales, "Weak Key");
  ASSERT_FALSE(before.dn.empty());
  ASSERT_TRUE(std::stoi(first(before, "userAccountControl")) & kDisabled);

  const auto outcome = import(lines);
  EXPECT_EQ(outcome.completeText,
            "0 Users and Folders were added successfully! 1 already existed.");
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0], HasSubstr(account("wk") + ": already existed, disabled"));
  EXPECT_EQ(user(sales, "Weak Key").attributes, before.attributes);
}

}  // namespace
}  // namespace kestrine::testing
