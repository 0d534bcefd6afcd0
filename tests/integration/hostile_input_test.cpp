// Records with control bytes against the sandbox domain: such a record is
// refused whole, and above all never reaches another account's home folder
// ("victim<NUL>x" would be \\server\home$\victim to libsmbclient).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/ldap/ldap_directory.h"
#include "tests/integration/import_fixture.h"

namespace kestrine::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kRefused = "0 Users and Folders were added successfully! 1 failed.";

std::vector<std::string> columnsOf(const std::string& line) {
  std::vector<std::string> columns;
  std::istringstream text(line);
  for (std::string column; std::getline(text, column, ',');) columns.push_back(column);
  return columns;
}

std::string lineOf(const std::vector<std::string>& columns) {
  std::string line;
  for (const auto& column : columns) line += (line.empty() ? "" : ",") + column;
  return line;
}

// A victim account made by a normal import, whose home folder holds a file,
// a sub-folder and an access entry of its own.
class HostileInput : public ImportFixture {
 protected:
  struct Snapshot {
    std::map<std::string, std::string> folder;
    std::map<std::string, std::vector<std::string>> account;
    std::vector<std::string> onShare;  // names under the test's tag
  };

  void SetUp() override {
    ImportFixture::SetUp();
    victims = unit("Victims");
    ASSERT_EQ(import({line("vi", "Victim User", victims)}).completeText,
              "1 Users and Folders were added successfully!");
    const std::filesystem::path home = sandbox->shareDir() + "/" + account("vi");
    std::filesystem::create_directories(home / "sub");
    std::ofstream(home / "notes.txt") << "the victim's\n";
    std::ofstream(home / "sub" / "deep.txt") << "the victim's too\n";
    const std::string sid = sidText(first(sandbox->read(userDn("Victim User")), "objectSid"));
    // Users may read: an entry the victim chose, which any grant would remove.
    setAccessList(homeFolder("vi"), {"S-1-5-32-544", sid}, true);
    setAccessList(homeFolder("vi") + "\\sub", {"S-1-5-32-544", sid}, true);
    before = snapshot();
  }

  Snapshot snapshot() {
    Snapshot now{
        folderState(homeFolder("vi")), sandbox->read(userDn("Victim User")).attributes, {}};
    for (const auto& entry : std::filesystem::directory_iterator(sandbox->shareDir())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(tag, 0) == 0) now.onShare.push_back(name);
    }
    std::sort(now.onShare.begin(), now.onShare.end());
    return now;
  }

  void expectVictimUnchanged() {
    const Snapshot after = snapshot();
    EXPECT_EQ(after.folder, before.folder);
    EXPECT_EQ(after.account, before.account);
    EXPECT_EQ(after.onShare, before.onShare);
  }

  std::string victims;
  Snapshot before;
};

struct Hostile {
  const char* name;
  std::size_t column;
  char byte;
  const char* picture;  // how the byte is shown in the logon name
  const char* codePoint;
};

// The case's name, not its bytes, in test names and messages.
void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.name;
}

class HostileRecord : public HostileInput, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileRecord, IsRefusedWholeAndLeavesTheVictimAsItWas) {
  const Hostile hostile = GetParam();
  const auto hostileUnit = unit("Hostile");
  // Column 0 names the victim, so that a name cut at the byte would reach
  // the victim's folder; other columns would make a new account.
  auto columns = columnsOf(line("hx", "Hostile X", hostileUnit));
  if (hostile.column == 0) columns[0] = account("vi");
  columns[hostile.column] += std::string(1, hostile.byte) + "x";
  const auto outcome = import({lineOf(columns)});

  EXPECT_EQ(outcome.completeText, kRefused);
  ASSERT_EQ(outcome.messages.size(), 1u);
  const std::string logon =
      hostile.column == 0 ? account("vi") + hostile.picture + "x" : account("hx");
  EXPECT_THAT(outcome.messages[0],
              HasSubstr(logon + ": check the record: column " + std::to_string(hostile.column) +
                        " holds a control character (" + hostile.codePoint + ")"));
  EXPECT_TRUE(sandbox->read(unitDn(hostileUnit)).dn.empty());
  LdapDirectory ldap;
  ldap.Bind("LDAP://rootDSE");
  EXPECT_EQ(ldap.accountDn(account("hx")), "");
  expectVictimUnchanged();
}

INSTANTIATE_TEST_SUITE_P(
    ControlBytes, HostileRecord,
    ::testing::Values(Hostile{"LogonNul", 0, '\0', "\xE2\x90\x80", "U+0000"},
                      Hostile{"LogonStartOfHeading", 0, '\x01', "\xE2\x90\x81", "U+0001"},
                      Hostile{"LogonTab", 0, '\t', "\xE2\x90\x89", "U+0009"},
                      Hostile{"LogonDelete", 0, '\x7f', "\xE2\x90\xA1", "U+007F"},
                      Hostile{"CommonNameNul", 1, '\0', "", "U+0000"},
                      Hostile{"CommonNameUnitSeparator", 1, '\x1f', "", "U+001F"},
                      Hostile{"UnitNul", 5, '\0', "", "U+0000"},
                      Hostile{"UnitTab", 5, '\t', "", "U+0009"},
                      Hostile{"ServerNul", 7, '\0', "", "U+0000"},
                      Hostile{"ServerDelete", 7, '\x7f', "", "U+007F"},
                      Hostile{"ShareNul", 8, '\0', "", "U+0000"},
                      Hostile{"ShareStartOfHeading", 8, '\x01', "", "U+0001"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileInput, RefusedRecordLeavesNothingForAShortRecordToCarryOver) {
  const auto good = unit("Good");
  const auto hostileUnit = unit("Hostile");
  auto hostile = columnsOf(line("hx", "Hostile X", hostileUnit));
  hostile[5] += std::string(1, '\0');
  const auto outcome =
      import({line("g1", "Good One", good), lineOf(hostile), account("sh") + ",Short One"});
  EXPECT_EQ(outcome.completeText, "2 Users and Folders were added successfully! 1 failed.");
  // The short record takes the unit and the rest from the last record taken.
  const Entry shortOne = user(good, "Short One");
  ASSERT_FALSE(shortOne.dn.empty());
  EXPECT_EQ(first(shortOne, "givenName"), "First g1");
  EXPECT_TRUE(sandbox->read(unitDn(hostileUnit)).dn.empty());
  EXPECT_EQ(snapshot().folder, before.folder);
}

TEST_F(HostileInput, CarriageReturnInTheLogonNameEndsTheLineThere) {
  const auto others = unit("Others");
  // A lone CR ends a line: the victim's name alone is one record, the rest
  // another one that is complete.
  const auto outcome = import({account("vi") + "\r" + line("cr", "Cr Part", others)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully! 1 failed.");
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0], HasSubstr(account("vi") + ": home folder left alone: "));
  EXPECT_FALSE(user(others, "Cr Part").dn.empty());
  const Snapshot after = snapshot();
  EXPECT_EQ(after.folder, before.folder);
  EXPECT_EQ(after.account, before.account);
}

TEST_F(HostileInput, CarriageReturnAfterTheLastColumnOnlyAddsAnEmptyLine) {
  const auto others = unit("Others");
  const auto outcome = import({line("ce", "Cr End", others) + "\r"});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages, IsEmpty());
  EXPECT_EQ(first(user(others, "Cr End"), "scriptPath"), "scripts\\ce.cmd");
}

}  // namespace
}  // namespace kestrine::testing
