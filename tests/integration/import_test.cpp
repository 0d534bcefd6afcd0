// The import run against the sandbox domain, checked by reading the directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/directory/dn.h"
#include "platform/linux/text_decoder.h"
#include "run/import_run.h"
#include "tests/fakes/fakes.h"
#include "tests/integration/import_fixture.h"
#include "tests/integration/sandbox.h"

namespace kestrine::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr int kNormalAccount = 512;
constexpr int kDisabled = 2;

class ImportTest : public ImportFixture {};

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

TEST_F(ImportTest, ExistingAccountIsLeftUnchangedAndCountedAsExisting) {
  const auto sales = unit("Sales");
  import({line("jd", "John Doe", sales)});
  const Entry before = user(sales, "John Doe");

  auto again = line("jd", "John Doe", sales, "0ther!Pass");
  again.replace(again.find("First jd"), 8, "Changed");
  const auto outcome = import({again});
  EXPECT_EQ(outcome.completeText,
            "0 Users and Folders were added successfully! 1 already existed.");
  EXPECT_THAT(outcome.messages, IsEmpty());

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
  // Its home folder is made all the same, ready for it once it is enabled.
  EXPECT_TRUE(std::filesystem::is_directory(sandbox->shareDir() + "/" + account("wk")));
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

// What a spreadsheet saves as "CSV (Comma delimited)" on Windows, cp1252,
// read under a UTF-8 locale: the records with letters beyond ASCII are
// refused and listed, the ASCII one is imported, and no U+FFFD reaches the
// domain.
TEST_F(ImportTest, Cp1252FileUnderAUtf8LocaleImportsOnlyWhatIsText) {
  ASSERT_TRUE(TextDecoder().isUtf8()) << TextDecoder::localeCharset();
  const auto sales = unit("Sales");
  const auto outcome = import({line("zo", "Zo\xEB Ansi", sales), line("am", "Amy Ascii", sales),
                               line("mu", "Max Muller", sales, "M\xFCller!x1")});
  const std::string refused = ": check the record: column ";
  const std::string remedy =
      "; save the file as UTF-8, or start Kestrine with the file's character set (LC_ALL=...); "
      "not among the failed records to save: mend it in the original file";
  EXPECT_EQ(outcome.messages,
            std::vector<std::string>{"message 0 [Kestrine] " + account("zo") + refused +
                                     "1 is not text in UTF-8 (byte 0xEB)" + remedy + "\n" +
                                     account("mu") + refused +
                                     "4 is not text in UTF-8 (byte 0xFC)" + remedy});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully! 2 failed.");
  const auto accounts = sandbox->search("(sAMAccountName=" + tag + "*)");
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts.front().dn, user(sales, "Amy Ascii").dn);
  EXPECT_THAT(sandbox->search("(|(ou=*\\ef\\bf\\bd*)(cn=*\\ef\\bf\\bd*)(givenName=*\\ef\\bf\\bd*)"
                              "(sn=*\\ef\\bf\\bd*)(sAMAccountName=*\\ef\\bf\\bd*)"
                              "(userPrincipalName=*\\ef\\bf\\bd*)(scriptPath=*\\ef\\bf\\bd*))"),
              IsEmpty());
}

TEST_F(ImportTest, NewHomeFolderGetsExactlyTheTwoInheritableEntries) {
  const auto sales = unit("Sales");
  const auto outcome = import({line("hf", "Home Folder", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages, IsEmpty());
  EXPECT_TRUE(std::filesystem::is_directory(sandbox->shareDir() + "/" + account("hf")));
  EXPECT_EQ(accessEntries(homeFolder("hf")), fullControlFor("Home Folder", "0x3"));
  // Protected: nothing the share's root gives its folders reaches it.
  EXPECT_THAT(controlFlags(homeFolder("hf")), Contains("PD"));
}

// A hostile user makes home$\acnew beforehand as a link to acvictim's folder
// (Samba follows links inside a share and shows them as plain folders): the
// import of the new account acnew must not take that folder over.
TEST_F(ImportTest, FolderThatGrantsAnotherAccountIsLeftAloneAndNamed) {
  const auto sales = unit("Sales");
  ASSERT_EQ(import({line("acvictim", "Ac Victim", sales)}).completeText,
            "1 Users and Folders were added successfully!");
  const std::string victim = homeFolder("acvictim");
  const auto before = accessEntries(victim);
  std::filesystem::create_directory_symlink(account("acvictim"),
                                            sandbox->shareDir() + "/" + account("acnew"));

  const auto outcome = import({line("acnew", "Ac New", sales)});
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 1 failed.");
  EXPECT_THAT(outcome.messages, Contains(HasSubstr(account("acnew") + ": " + homeFolder("acnew") +
                                                   " already grants " + account("acvictim") +
                                                   "; move it away and run again")));
  EXPECT_EQ(accessEntries(victim), before);
}

// A folder an administrator made ready, granting groups only: the new
// account gets it, and the summary says so. (One that grants a user account
// is left alone: FolderThatGrantsAnotherAccountIsLeftAloneAndNamed.)
TEST_F(ImportTest, ExistingHomeFolderIsReplacedOnEverythingBelowAndNamed) {
  const auto sales = unit("Sales");
  const std::filesystem::path local = sandbox->shareDir() + "/" + account("ex");
  std::filesystem::create_directories(local / "sub");
  std::ofstream(local / "notes.txt") << "kept\n";
  std::ofstream(local / "sub" / "deep.txt") << "kept\n";
  setAccessList(homeFolder("ex"), {"S-1-5-32-544", "S-1-5-18"}, true);

  const auto outcome = import({line("ex", "Ex Isting", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully!");
  EXPECT_THAT(outcome.messages,
              ElementsAre(HasSubstr(
                  account("ex") + ": home folder existed already; its access list was replaced")));
  const auto folder = fullControlFor("Ex Isting", "0x3");
  const auto file = fullControlFor("Ex Isting", "0x0");
  EXPECT_EQ(accessEntries(homeFolder("ex")), folder);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\sub"), folder);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\notes.txt"), file);
  EXPECT_EQ(accessEntries(homeFolder("ex") + "\\sub\\deep.txt"), file);
  EXPECT_THAT(controlFlags(homeFolder("ex")), Contains("PD"));
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
  // The real file server, by its address: Kerberos has no ticket for that.
  auto byAddress = line("ad", "By Address", sales);
  byAddress.replace(byAddress.find(sandbox->server()), sandbox->server().size(),
                    sandbox->address());

  const auto outcome = import({noServer, refused, noShare, byAddress});
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 4 failed.");
  ASSERT_EQ(outcome.messages.size(), 5u);
  EXPECT_EQ(outcome.messages[0],
            "message 0 [] Cannot create: \\\\nohost.invalid\\home$\\" + account("ns"));
  EXPECT_EQ(outcome.messages[1],
            "message 0 [] Cannot create: \\\\127.0.0.9\\home$\\" + account("rf"));
  EXPECT_EQ(outcome.messages[2],
            "message 0 [] Cannot create: \\\\" + sandbox->server() + "\\nosuch$\\" + account("nh"));
  EXPECT_THAT(outcome.messages[4], HasSubstr(account("nh") + ": create the home folder: "));
  EXPECT_THAT(outcome.messages[4],
              HasSubstr(account("ad") + ": create the home folder: create \\\\" +
                        sandbox->address() + "\\home$\\" + account("ad") +
                        ": a file server must be named by its host name for Kerberos, not by "
                        "its address (column 7)"));
}

TEST_F(ImportTest, AccountThatWasNotCreatedGetsNoFolder) {
  const auto sales = unit("Sales");
  // The second record's DN is the first one's: its account is never created.
  const auto outcome = import({line("jd", "John Doe", sales), line("jx", "John Doe", sales)});
  EXPECT_EQ(outcome.completeText, "1 Users and Folders were added successfully! 1 failed.");
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0],
              HasSubstr(account("jx") + ": home folder left alone: the account was not created ("));
  EXPECT_FALSE(std::filesystem::exists(sandbox->shareDir() + "/" + account("jx")));
}

TEST_F(ImportTest, UnreachableDirectoryFailsEveryRecordWithTheReason) {
  const auto outcome = [&] {
    ConfiguredServers nowhere("ldap://127.0.0.1:1");
    return import({line("nd", "No Dir", unit("Sales"))});
  }();
  EXPECT_EQ(outcome.completeText, "0 Users and Folders were added successfully! 1 failed.");
  // No folder without an account: only the summary, with the reason.
  ASSERT_EQ(outcome.messages.size(), 1u);
  EXPECT_THAT(outcome.messages[0], HasSubstr("bind the directory (rootDSE): "));
  EXPECT_THAT(outcome.messages[0],
              HasSubstr(account("nd") + ": not attempted: the domain could not be reached"));
  EXPECT_FALSE(std::filesystem::exists(sandbox->shareDir() + "/" + account("nd")));
}

// A record per file server: the DC (signing mandatory), a share that
// requires encryption, a server of SMB 2.1 at most and one of 3.1.1 only.
// Each folder is made, then on a second run granted again, with exactly
// the two entries, protected.
TEST_F(ImportTest, HomeFoldersOnEveryKindOfFileServer) {
  const auto sales = unit("Sales");
  const struct {
    const char* name;
    std::string server;
    std::string shareBase;
  } servers[] = {
      {"sv1", sandbox->server(), "home"},
      {"sv2", sandbox->server(), "homeenc"},
      {"sv3", std::getenv("KESTRINE_SANDBOX_SMB21"), "home"},
      {"sv4", std::getenv("KESTRINE_SANDBOX_SMB311"), "home"},
  };
  std::vector<std::string> lines;
  for (const auto& at : servers) {
    std::string record = line(at.name, std::string("Server ") + at.name, sales);
    record.replace(record.find("," + sandbox->server() + ",home,"), sandbox->server().size() + 7,
                   "," + at.server + "," + at.shareBase + ",");
    lines.push_back(record);
  }
  for (const char* expected : {"4 Users and Folders were added successfully!",
                               "0 Users and Folders were added successfully! 4 already existed."}) {
    const auto outcome = import(lines);
    EXPECT_EQ(outcome.completeText, expected);
    EXPECT_THAT(outcome.messages, IsEmpty());
    for (const auto& at : servers) {
      SCOPED_TRACE(at.server + " " + at.shareBase);
      EXPECT_EQ(accessEntries(homeFolder(at.name)),
                fullControlFor(std::string("Server ") + at.name, "0x3"));
      EXPECT_THAT(controlFlags(homeFolder(at.name)), Contains("PD"));
    }
  }
}

}  // namespace
}  // namespace kestrine::testing
