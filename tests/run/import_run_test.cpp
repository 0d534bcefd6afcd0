#include "run/import_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "run/csv_record.h"
#include "tests/fakes/fakes.h"

namespace kestrine {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::string_literals;
using namespace kestrine::testing;

class ImportRunTest : public ::testing::Test {
 protected:
  void runWith(std::vector<std::string> lines) {
    files.files["users.csv"] = std::move(lines);
    run.run();
  }
  // The log entries that start with `prefix`.
  std::vector<std::string> entries(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& e : log.entries) {
      if (e.compare(0, prefix.size(), prefix) == 0) found.push_back(e);
    }
    return found;
  }
  std::size_t indexOf(const std::string& entry, std::size_t from = 0) const {
    const auto it =
        std::find(log.entries.begin() + static_cast<long>(from), log.entries.end(), entry);
    return static_cast<std::size_t>(it - log.entries.begin());
  }

  CallLog log;
  FakeDirectory directory{log};
  RecordingView view{log};
  FakeFileSystem files{log};
  ImportRun run{view, directory, files};
};

const std::string kFull = "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd";
const std::string kIncompleteAccount =
    "the account was made but stays disabled: delete it and its home folder before importing the "
    "record again (an import never changes an account that exists, nor takes over a folder that "
    "grants another)";

TEST_F(ImportRunTest, EmptyPathShowsTheMessageAndEndsBeforeAnyDirectoryOrFileWork) {
  view.filePath = "";
  run.run();
  EXPECT_THAT(
      log.entries,
      ElementsAre("hide Form1", "show Loading",
                  "message 0 [Error - Cannot Continue] The path to the CSV file is required!\r\n",
                  "end"));
}

TEST_F(ImportRunTest, PathOfBlanksPassesTheCheck) {
  view.filePath = "  ";
  files.files["  "] = {};
  run.run();
  EXPECT_EQ(view.completeText, "0 Users and Folders were added successfully!");
}

TEST_F(ImportRunTest, UnopenableFileStopsWithItsReasonAndNeverReportsSuccess) {
  view.filePath = "missing.csv";
  run.run();
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Error - Cannot Continue] Cannot open the CSV file: "
                          "missing.csv\r\nNo such file or directory"));
  EXPECT_EQ(log.entries.back(), "end");
  EXPECT_TRUE(entries("show Complete").empty());
}

TEST_F(ImportRunTest, ReadFailureInMidFileStopsReadingThenReportsWhatWasDone) {
  files.failReadAfterLines = 1;
  runWith({kFull, kFull, kFull});
  const auto messages = entries("message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "message 0 [Error - Cannot Continue] Reading the CSV file failed at line 2: "
            "Input/output error");
  EXPECT_EQ(entries("Create User").size(), 1u);
  // Not the program end: the file is closed and the honest count is shown.
  EXPECT_EQ(entries("end").size(), 0u);
  EXPECT_LT(indexOf(messages[0]), indexOf("Close"));
  EXPECT_EQ(log.entries.back(), "show Complete: 1 Users and Folders were added successfully!");
}

TEST_F(ImportRunTest, OverlongLineIsOneFailedRecordAndReadingGoesOn) {
  files.overlongLines = {2};
  runWith({kFull, "ignored", "kroe,Kim Roe,Kim,Roe,Pa55word!,Sales,example.test,fs1,home,x.cmd"});
  EXPECT_EQ(entries("Create User").size(), 2u);
  EXPECT_EQ(view.completeText, "2 Users and Folders were added successfully! 1 failed.");
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Kestrine] line 2: longer than 1 MiB; not among the failed "
                          "records to save: mend it in the original file"));
}

TEST_F(ImportRunTest, MissingFileSystemObjectIsAnUnopenableFile) {
  files.failCreation = true;
  runWith({kFull});
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Error - Cannot Continue] Cannot open the CSV file: "
                          "users.csv\r\nfileSystem holds no object"));
  EXPECT_EQ(log.entries.back(), "end");
}

TEST_F(ImportRunTest, FileWithoutLinesCountsZero) {
  runWith({});
  EXPECT_TRUE(entries("Create").empty());
  EXPECT_EQ(view.completeText, "0 Users and Folders were added successfully!");
  EXPECT_EQ(view.loadingText, "");  // lblLoading keeps its designed text
}

TEST_F(ImportRunTest, StepsRunInOrderWithProgressTextsBetweenThem) {
  runWith({kFull});
  const std::vector<std::string> expected = {
      "hide Form1",
      "show Loading",
      "Bind LDAP://rootDSE",
      "OpenTextFile users.csv",
      "lblLoading: Adding OU: Sales",
      "Get defaultNamingContext",
      "Bind LDAP://DC=example,DC=test",
      "Create organizationalUnit OU=Sales",
      "SetInfo OU=Sales,DC=example,DC=test",
      "Get defaultNamingContext",
      "Bind LDAP://OU=Sales ,DC=example,DC=test",
      "Create User cn=John Doe",
      "Put sAMAccountName=jdoe",
      "Put givenName=John",
      "Put sn=Doe",
      "Put userPrincipalName=jdoe@example.test",
      "SetInfo cn=John Doe,OU=Sales,DC=example,DC=test givenName sAMAccountName sn "
      "userPrincipalName",
      "Put AccountExpirationDate=01/01/1970",
      "Put ScriptPath=logon.cmd",
      "Put userAccountControl=512",
      "Put pwdLastSet=-1",
      "SetPassword cn=John Doe,OU=Sales,DC=example,DC=test",
      "SetInfo cn=John Doe,OU=Sales,DC=example,DC=test AccountExpirationDate ScriptPath "
      "pwdLastSet userAccountControl",
      "Get objectSid",
      "lblLoading: Adding User: John Doe",
      "CreateFolder \\\\fs1\\home$\\jdoe for S-1-5-21-1-2-3-1000",
      "FolderExists \\\\fs1\\home$\\jdoe",
      "grant \\\\fs1\\home$\\jdoe S-1-5-21-1-2-3-1000",
      "lblLoading: Creating Share: \\\\fs1\\home$\\jdoe",
      "Close",
      "hide Loading",
      "show Complete: 1 Users and Folders were added successfully!",
  };
  EXPECT_EQ(log.entries, expected);
}

TEST_F(ImportRunTest, SkippedLinesAreNeitherProvisionedNorCounted) {
  runWith({kFull, "", "string not to include,x,y,z,p,Other", ",,,", kFull,
           "kroe,Kim Roe,Kim,Roe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"});
  EXPECT_EQ(entries("Create organizationalUnit").size(), 3u);
  EXPECT_EQ(entries("Create User").size(), 3u);
  // The second jdoe finds its own account from the first: no failure.
  EXPECT_EQ(view.completeText, "2 Users and Folders were added successfully! 1 already existed.");
  EXPECT_TRUE(entries("message").empty());
}

TEST_F(ImportRunTest, ShortRecordCarriesOverTheEarlierRecordsValues) {
  runWith({kFull, "kroe,Kim Roe"});
  const std::size_t second = indexOf("Create User cn=Kim Roe");
  ASSERT_LT(second, log.entries.size());
  // The earlier unit is asked for again; the label keeps the earlier share text.
  EXPECT_EQ(entries("Create organizationalUnit OU=Sales").size(), 2u);
  EXPECT_EQ(log.entries[second - 1], "Bind LDAP://OU=Sales ,DC=example,DC=test");
  EXPECT_EQ(log.entries[second + 1], "Put sAMAccountName=kroe");
  EXPECT_EQ(log.entries[second + 2], "Put givenName=John");
  EXPECT_EQ(log.entries[second + 4], "Put userPrincipalName=kroe@example.test");
  EXPECT_EQ(log.entries[second + 7], "Put ScriptPath=logon.cmd");
  const auto labels = entries("lblLoading");
  EXPECT_THAT(labels,
              ElementsAre("lblLoading: Adding OU: Sales", "lblLoading: Adding User: John Doe",
                          "lblLoading: Creating Share: \\\\fs1\\home$\\jdoe",
                          "lblLoading: Adding User: Kim Roe",
                          "lblLoading: Creating Share: \\\\fs1\\home$\\kroe"));
  EXPECT_EQ(directory.objects["cn=Kim Roe,OU=Sales,DC=example,DC=test"]["password"], "Pa55word!");
  // Neither the password nor the split line outlives the run.
  EXPECT_EQ(run.state().password, "");
  EXPECT_TRUE(run.state().fields.empty());
}

TEST_F(ImportRunTest, ShortFirstRecordLeavesTheOtherValuesEmpty) {
  runWith({"kroe,Kim Roe"});
  EXPECT_EQ(run.state().principalName, "kroe@");
  EXPECT_EQ(run.state().ouRdn, "");
  EXPECT_EQ(run.state().fileServer, "");
  // No unit name yet: the unit cannot be made and the account goes to the
  // domain root, which the path without a unit names.
  EXPECT_THAT(entries("Create organizationalUnit"), ElementsAre("Create organizationalUnit "));
  EXPECT_EQ(directory.objects.count("cn=Kim Roe,DC=example,DC=test"), 1u);
}

TEST_F(ImportRunTest, UnitAndCommonNamesAreEscapedButShownAsWritten) {
  runWith({"jdoe,Doe+John,John,Doe,Pa55word!,a=b;c,example.test",
           "kroe,Back\\slash <x>,K,R,Pa55word!, lead#,example.test"});
  EXPECT_THAT(entries("lblLoading: Adding OU"),
              ElementsAre("lblLoading: Adding OU: a=b;c", "lblLoading: Adding OU:  lead#"));
  EXPECT_THAT(entries("Create organizationalUnit"),
              ElementsAre("Create organizationalUnit OU=a\\3Db\\3Bc",
                          "Create organizationalUnit OU=\\20lead#"));
  EXPECT_THAT(entries("Create User"),
              ElementsAre("Create User cn=Doe\\2BJohn", "Create User cn=Back\\5Cslash \\3Cx\\3E"));
  EXPECT_THAT(entries("Bind LDAP://OU="),
              ElementsAre("Bind LDAP://OU=a\\3Db\\3Bc ,DC=example,DC=test",
                          "Bind LDAP://OU=\\20lead# ,DC=example,DC=test"));
  EXPECT_EQ(view.completeText, "2 Users and Folders were added successfully!");
}

TEST_F(ImportRunTest, LabelNamesTheUnitDuringTheAccountStepAndTheUserAfterIt) {
  runWith({kFull});
  const auto labelBefore = [&](const std::string& entry) {
    std::string label;
    for (std::size_t i = 0; i < indexOf(entry); ++i) {
      if (log.entries[i].rfind("lblLoading: ", 0) == 0) label = log.entries[i];
    }
    return label;
  };
  EXPECT_EQ(labelBefore("Create User cn=John Doe"), "lblLoading: Adding OU: Sales");
  EXPECT_EQ(labelBefore("CreateFolder \\\\fs1\\home$\\jdoe for S-1-5-21-1-2-3-1000"),
            "lblLoading: Adding User: John Doe");
  EXPECT_EQ(labelBefore("Close"), "lblLoading: Creating Share: \\\\fs1\\home$\\jdoe");
}

// Only a server that did not answer makes the domain "could not be reached";
// a bind that failed for a reason of its own names it on every record.
class UnboundDirectoryTest : public ImportRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnboundDirectoryTest, WalksEveryRecordTouchesNoFolderAndSaysWhy) {
  const bool lost = GetParam();
  lost ? directory.loseConnectionWhen("Bind") : directory.failWhen("Bind", 53);
  runWith({kFull, kFull});
  EXPECT_EQ(entries("lblLoading: Creating Share").size(), 2u);
  EXPECT_TRUE(entries("FolderExists").empty());  // no orphan folders
  EXPECT_TRUE(entries("grant").empty());
  EXPECT_EQ(view.completeText, "0 Users and Folders were added successfully! 2 failed.");
  const auto messages = entries("message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr(lost ? "bind the directory (rootDSE): no answer: Bind "
                                            "LDAP://rootDSE\n"
                                            "jdoe: not attempted: the domain could not be reached\n"
                                          : "bind the directory (rootDSE): refused: Bind "
                                            "LDAP://rootDSE\n"
                                            "jdoe: not attempted: refused: Bind LDAP://rootDSE\n"));
}

INSTANTIATE_TEST_SUITE_P(LostOrRefused, UnboundDirectoryTest, ::testing::Bool());

std::string numberedRecord(int i) {
  const std::string n = std::to_string(i);
  return "u" + n + ",User " + n + ",F,L,Pa55word!,Sales,example.test,fs1,home,logon.cmd";
}

TEST_F(ImportRunTest, FailureSummaryListsTwentyRecordsAndHoldsEveryOneInItsDetails) {
  directory.failWhen("SetPassword", 19);
  std::vector<std::string> lines;
  for (int i = 0; i < 23; ++i) lines.push_back(numberedRecord(i));
  runWith(lines);
  const auto messages = entries("message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(std::count(messages[0].begin(), messages[0].end(), '\n'), 20);
  EXPECT_THAT(messages[0], HasSubstr("u0: set the password: refused: SetPassword cn=User 0"));
  EXPECT_THAT(messages[0], ::testing::EndsWith("\n... and 3 more"));
  const std::string& details = view.summary.details;
  EXPECT_EQ(std::count(details.begin(), details.end(), '\n'), 22);
  EXPECT_THAT(details, ::testing::EndsWith("u22: set the password: refused: SetPassword cn=User "
                                           "22,OU=Sales,DC=example,DC=test; " +
                                           kIncompleteAccount));
  EXPECT_EQ(view.completeText, "0 Users and Folders were added successfully! 23 failed.");
}

// The failed records, saved for a second run: each as the run used it, in
// file order, with what a short record carried over, and only the columns
// that some record had (a unit that no record named stays unnamed). A record
// refused before it was read as text is not among them, and a later short
// record takes nothing from it. Each summary line says what a second import
// of its record does.
TEST(FailedRecordsTest, AreSavedAsTheRunUsedThemAndSayWhatASecondImportDoes) {
  const std::string kim = "kroe,Kim Roe,Kim,Roe,Pa55word!,Sales,example.test,fs1,home,logon.cmd";
  struct Case {
    std::vector<std::string> lines;
    std::string failWhen;  // the directory refuses this operation
    std::string saved;
    std::string lastLine;  // the summary's details end with it
  };
  const Case cases[] = {
      {{kFull}, "SetPassword", kFull + "\n", kIncompleteAccount},
      {{kFull, "kroe,Kim Roe", kim},
       "Create User cn=Kim Roe",
       "kroe,Kim Roe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd\n" + kim + "\n",
       "(create the account cn=Kim Roe: refused: Create User cn=Kim Roe)"},
      {{"kroe,Kim Roe", kFull + ",extra,columns"},
       "Create User",
       "kroe,Kim Roe\n" + kFull + "\n",
       "(create the account cn=John Doe: refused: Create User cn=John Doe)"},
      {{kFull, "evil,E\x01vil,E,V,Secret!,Other,x,y,z,w", "vicou,Eve,E,V,Secret!,Sa\xFFles,x,y,z,w",
        "kroe,Kim Roe"},
       "Create User cn=Kim Roe",
       "kroe,Kim Roe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd\n",
       "(create the account cn=Kim Roe: refused: Create User cn=Kim Roe)"},
      {{"jdoe." + kFull.substr(4)},
       "",
       "jdoe." + kFull.substr(4) + "\n",
       "no home folder can be made for this logon name: delete the account before importing the "
       "record with another one (an import never changes an account that exists)"},
      {{kFull,
        "ab\x01"
        "c,Abc"},
       "",
       "",
       "ab\xE2\x90\x81"
       "c: check the record: column 0 holds a control character (U+0001); not "
       "among the failed records to save: mend it in the original file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.back());
    CallLog log;
    FakeDirectory directory{log};
    RecordingView view{log, "/data/users.csv"};
    FakeFileSystem files{log};
    if (!c.failWhen.empty()) directory.failWhen(c.failWhen);
    files.files["/data/users.csv"] = c.lines;
    view.saveAs = "/data/users-failed.csv";
    ImportRun run{view, directory, files};
    run.run();
    EXPECT_EQ(run.report().failedRecords(), c.saved);
    EXPECT_EQ(view.summary.savable,
              static_cast<std::size_t>(std::count(c.saved.begin(), c.saved.end(), '\n')));
    EXPECT_EQ(view.summary.savePath, "/data/users-failed.csv");
    EXPECT_EQ(view.saveResult, "");
    EXPECT_EQ(files.written["/data/users-failed.csv"], c.saved);
    EXPECT_THAT(view.summary.details, ::testing::EndsWith(c.lastLine));
  }
}

// The box's first lines cut a long reason short, never what a second import
// does; a file that cannot be written is told.
TEST_F(ImportRunTest, ARecordWithoutItsFolderIsSavedAndItsLineSaysAnImportDoesTheFolderOnly) {
  const std::string server(300, 's');
  std::string record = kFull;
  record.replace(record.find("fs1"), 3, server);
  files.refusedFolders["\\\\" + server + "\\home$\\jdoe"] = EHOSTUNREACH;
  files.refusedWrites["/full/users-failed.csv"] = ENOSPC;
  view.saveAs = "/full/users-failed.csv";
  runWith({record});
  const std::string secondImport =
      "; the account is there: importing the record again does its home folder only, and counts "
      "it as already existing";
  EXPECT_THAT(view.summary.text, ::testing::EndsWith("ss..." + secondImport));
  EXPECT_THAT(view.summary.details,
              ::testing::EndsWith(server + "\\home$\\jdoe: refused" + secondImport));
  EXPECT_EQ(run.report().failedRecords(), record + "\n");
  EXPECT_EQ(view.saveResult, "Cannot save the failed records: /full/users-failed.csv\r\nrefused");
}

TEST(FailedRecordsTest, AreOfferedBesideTheFileUnderItsNameWithoutItsExtension) {
  EXPECT_EQ(failedRecordsPath("users.csv"), "users-failed.csv");
  EXPECT_EQ(failedRecordsPath("//users.CSV"), "//users-failed.csv");
  EXPECT_EQ(failedRecordsPath("C:\\x.y\\list"), "C:\\x.y\\list-failed.csv");
  EXPECT_EQ(failedRecordsPath("/home/a.b/.users"), "/home/a.b/.users-failed.csv");
}

TEST_F(ImportRunTest, LogonNameOfAnotherAccountLeavesItsFolderAloneAndSaysWhose) {
  const std::string admin = "CN=Administrator,CN=Users,DC=example,DC=test";
  directory.objects[admin]["sAMAccountName"] = "administrator";
  // The directory refuses a second account with a logon name that is taken.
  directory.failWhen("SetInfo cn=Ad Min", kAlreadyExists);
  files.folders.insert("\\\\fs1\\home$\\administrator");
  runWith({"administrator,Ad Min,A,M,Pa55word!,Sales,example.test,fs1,home,x.cmd"});
  EXPECT_TRUE(entries("grant").empty());
  EXPECT_TRUE(entries("FolderExists").empty());
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Kestrine] administrator: home folder left alone: the logon "
                          "name belongs to " +
                          admin));
  EXPECT_EQ(view.completeText, "0 Users and Folders were added successfully! 1 failed.");
}

TEST_F(ImportRunTest, AccountThatWasNotCreatedGetsNoFolder) {
  directory.failWhen("Create User", 64);
  runWith({kFull});
  EXPECT_TRUE(entries("FolderExists").empty());
  EXPECT_THAT(entries("message"),
              ElementsAre(HasSubstr("jdoe: home folder left alone: the account was not created "
                                    "(create the account cn=John Doe: refused")));
}

TEST_F(ImportRunTest, ReRunCountsTheRecordsOwnAccountsAsAlreadyExistingAndRepairsTheirFolders) {
  const std::string second = "kroe,Kim Roe,Kim,Roe,x,Sales,example.test,fs1,home,logon.cmd";
  directory.failWhen("SetPassword cn=Kim Roe", 19);  // kroe stays disabled
  runWith({kFull, second});
  EXPECT_EQ(view.completeText, "1 Users and Folders were added successfully! 1 failed.");
  directory.objects.at("cn=Kim Roe,OU=Sales,DC=example,DC=test")["userAccountControl"] = "514";
  const auto accountsBefore = directory.objects;

  log.entries.clear();
  RecordingView again{log};
  ImportRun(again, directory, files).run();
  EXPECT_EQ(again.completeText, "0 Users and Folders were added successfully! 2 already existed.");
  EXPECT_EQ(directory.objects, accountsBefore);
  EXPECT_EQ(entries("grant").size(), 2u);  // the permissions are set again
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Kestrine] kroe: already existed, disabled"));
}

TEST_F(ImportRunTest, CompletionTextNamesEachKindOfOutcomeThatOccurred) {
  directory.objects["OU=Sales,DC=example,DC=test"];
  directory.objects["cn=John Doe,OU=Sales,DC=example,DC=test"] = {{"sAMAccountName", "jdoe"},
                                                                  {"objectSid", fakeObjectSid(9)}};
  files.folders.insert("\\\\fs1\\home$\\jdoe");
  files.refusedFolders["\\\\fs1\\home$\\u2"] = EACCES;
  runWith({kFull, numberedRecord(1), numberedRecord(2)});
  EXPECT_EQ(view.completeText,
            "1 Users and Folders were added successfully! 1 already existed. 1 failed.");
}

// A record with a control character is refused as a whole; one whose unit
// cannot be named (text that is no name, from a stream that let it through)
// fails as a whole, never going to an earlier record's unit.
TEST_F(ImportRunTest, RefusedRecordsWriteNothingAndCarryNothingOver) {
  const std::string evil = "vic\0tim,Eve,E,V,Pa55word!,Ev\x01il,example.test,evil,share,x.cmd"s;
  const std::string unnamed = "vicou,Eve,E,V,Pa55word!,Sa\xFFles,example.test,evil,share,x.cmd";
  runWith({kFull, evil, unnamed, "kroe,Kim Roe"});
  // Nothing of the refused records reaches the directory or the share.
  EXPECT_EQ(entries("Create User").size(), 2u);
  for (const auto& entry : log.entries) {
    if (entry.rfind("message", 0) == 0) continue;
    EXPECT_EQ(entry.find("vic"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("evil"), std::string::npos) << entry;
  }
  // The short record after it takes the last accepted record's values.
  EXPECT_THAT(entries("lblLoading: Creating Share"),
              ElementsAre("lblLoading: Creating Share: \\\\fs1\\home$\\jdoe",
                          "lblLoading: Creating Share: \\\\fs1\\home$\\kroe"));
  EXPECT_EQ(entries("Bind LDAP://OU=Sales ,DC=example,DC=test").size(), 2u);
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [Kestrine] vic\xE2\x90\x80tim: check the record: column 0 "
                          "holds a control character (U+0000); not among the failed records to "
                          "save: mend it in the original file\nvicou: name the unit: "
                          "\"Sa\\FFles\" is not UTF-8 text; not among the failed records to "
                          "save: mend it in the original file"));
  EXPECT_EQ(view.completeText, "2 Users and Folders were added successfully! 2 failed.");
}

TEST_F(ImportRunTest, ControlCharactersCountInEveryUsedColumnOnly) {
  struct Case {
    std::size_t column;
    char character;
    const char* codePoint;
  };
  for (const Case c : {Case{1, '\t', "U+0009"}, Case{5, '\x1f', "U+001F"}, Case{7, '\r', "U+000D"},
                       Case{9, '\x7f', "U+007F"}}) {
    auto fields = splitRecord(kFull);
    fields[c.column].insert(1, 1, c.character);
    const auto found = findControlCharacter(fields);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->column, c.column);
    EXPECT_EQ(codePoint(found->character), c.codePoint);
  }
  // Columns the run does not use may hold anything; other bytes are no control characters.
  EXPECT_FALSE(findControlCharacter(splitRecord(kFull + ",a\x01-b")).has_value());
  EXPECT_FALSE(findControlCharacter(splitRecord("J\xC3\xBCrgen,\xE2\x80\x8B \x80")).has_value());
  EXPECT_EQ(printable("a\x01\x7f"), "a\xE2\x90\x81\xE2\x90\xA1");
}

TEST_F(ImportRunTest, RecordWithoutItsHomeFolderIsToldThenCountedAsFailed) {
  files.refusedFolders["\\\\fs1\\home$\\jdoe"] = EHOSTUNREACH;
  runWith({kFull, "asmith,Ann Smith,Ann,Smith,Pa55word!,Sales,example.test,fs1,home,logon.cmd"});
  EXPECT_THAT(entries("message"),
              ElementsAre("message 0 [] Cannot create: \\\\fs1\\home$\\jdoe",
                          "message 0 [Kestrine] jdoe: create the home folder: create "
                          "\\\\fs1\\home$\\jdoe: refused; the account is there: importing "
                          "the record again does its home folder only, and counts it as "
                          "already existing"));
  EXPECT_EQ(view.completeText, "1 Users and Folders were added successfully! 1 failed.");
}

// A file server given up after the wait of its first record's folder step,
// then a sign-in that fails for every folder: a box for the first record of
// each cause, and the sign-in's reason once in the summary.
TEST_F(ImportRunTest, ACauseThatStrikesRecordAfterRecordIsToldOnce) {
  const std::string home = "\\\\fs1\\home$\\";
  std::vector<std::string> lines;
  for (const std::string name : {"r1", "r2", "r3", "r4", "r5"}) {
    lines.push_back(name + ",R " + name + ",R,S,Pa55word!,Sales,example.test,fs1,home,x");
  }
  files.refusedFolders = {{home + "r1", ETIMEDOUT},
                          {home + "r2", ETIMEDOUT},
                          {home + "r3", EACCES},
                          {home + "r4", EACCES}};
  files.refusalKinds = {{home + "r2", FailureKind::kServerGivenUp},
                        {home + "r3", FailureKind::kSignIn},
                        {home + "r4", FailureKind::kSignIn}};
  runWith(lines);
  const std::string again =
      "; the account is there: importing the record again does its home folder only, and "
      "counts it as already existing";
  EXPECT_THAT(
      entries("message"),
      ElementsAre("message 0 [] Cannot create: " + home + "r1",
                  "message 0 [] Cannot create: " + home + "r3",
                  "message 0 [Kestrine] create the home folder: create " + home +
                      "r3: refused\nr1: create the home folder: create " + home + "r1: refused" +
                      again + "\nr2: create the home folder: create " + home + "r2: refused" +
                      again + "\nr3: create the home folder: cannot sign in (see above)" + again +
                      "\nr4: create the home folder: cannot sign in (see above)" + again));
  EXPECT_EQ(view.completeText, "1 Users and Folders were added successfully! 4 failed.");

  // A bind of the rootDSE that cannot sign in tells it once, in its own line.
  log.entries.clear();
  CallLog bindLog;
  FakeDirectory refusing(bindLog);
  refusing.failWhen("Bind LDAP://rootDSE", 82, FailureKind::kSignIn);
  RecordingView bindView(bindLog);
  ImportRun bindRun(bindView, refusing, files);
  bindRun.run();
  EXPECT_EQ(bindRun.report().summary(),
            "bind the directory (rootDSE): refused: Bind LDAP://rootDSE\n"
            "r1: not attempted: cannot sign in (see above)\n"
            "r2: not attempted: cannot sign in (see above)\n"
            "r3: not attempted: cannot sign in (see above)\n"
            "r4: not attempted: cannot sign in (see above)\n"
            "r5: not attempted: cannot sign in (see above)");
}

TEST_F(ImportRunTest, NoSummaryWhenEveryRecordSucceeded) {
  runWith({kFull});
  EXPECT_TRUE(entries("message").empty());
}

}  // namespace
}  // namespace kestrine
