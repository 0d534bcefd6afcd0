#include "provision/provisioning.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fakes/fakes.h"

namespace kestrine {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using namespace kestrine::testing;

class ProvisioningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fillRecord(state, directory);
    log.entries.clear();
    // The folder steps below stand for a record that created its account.
    state.record.account = AccountOrigin::kCreated;
    state.record.accountSid = fakeSidText(0);
  }
  void fillRecord(RunState& target, Directory& source) {
    target.rootDse = source.Bind("LDAP://rootDSE");
    target.ouRdn = "OU=Sales";
    target.ouPath = "OU=Sales ,";
    target.accountName = "jdoe";
    target.commonName = "John Doe";
    target.firstName = "John";
    target.lastName = "Doe";
    target.password = "Pa55word!";
    target.principalName = "jdoe@example.test";
    target.logonScript = "logon.cmd";
    target.fileServer = "files1";
    target.shareBase = "home";
    target.fileSystem = files.createFileSystem();
    target.shell = files.createShell();
    files.folders.insert("\\\\files1\\home$");
  }
  void createUnitAndUser() {
    provisioning.CreateOU();
    provisioning.CreateUsers();
  }

  CallLog log;
  FakeDirectory directory{log};
  RecordingView view{log};
  FakeFileSystem files{log};
  RunState state;
  Provisioning provisioning{state, directory, view};
  const std::string userDn = "cn=John Doe,OU=Sales,DC=example,DC=test";
};

TEST_F(ProvisioningTest, ExistingUnitIsNotAFailure) {
  provisioning.CreateOU();
  provisioning.CreateOU();
  EXPECT_EQ(directory.objects.count("OU=Sales,DC=example,DC=test"), 1u);
  EXPECT_THAT(state.record.failures, IsEmpty());
}

TEST_F(ProvisioningTest, OtherUnitFailuresAreKeptForTheRecord) {
  directory.failWhen("SetInfo OU=Sales", 50);
  provisioning.CreateOU();
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].step, "write the unit OU=Sales");
  EXPECT_EQ(state.record.failures[0].code, 50);
}

TEST_F(ProvisioningTest, FailedDomainRootBindNeverTouchesAnEarlierUnit) {
  provisioning.CreateOU();
  directory.failWhen("Bind LDAP://DC=");
  log.entries.clear();
  state.ouRdn = "OU=Other";
  provisioning.CreateOU();
  EXPECT_THAT(log.entries,
              ElementsAre("Get defaultNamingContext", "Bind LDAP://DC=example,DC=test"));
}

TEST_F(ProvisioningTest, FailedUnitCreateNeverWritesTheEarlierUnitAgain) {
  provisioning.CreateOU();
  directory.failWhen("Create organizationalUnit");
  log.entries.clear();
  provisioning.CreateOU();
  EXPECT_THAT(log.entries, Not(Contains(::testing::StartsWith("SetInfo"))));
}

TEST_F(ProvisioningTest, AccountGetsEveryValueAndIsEnabledAfterItsPassword) {
  createUnitAndUser();
  const auto& user = directory.objects.at(userDn);
  EXPECT_EQ(user.at("sAMAccountName"), "jdoe");
  EXPECT_EQ(user.at("userAccountControl"), "512");
  EXPECT_EQ(user.at("pwdLastSet"), "-1");
  EXPECT_EQ(user.at("password"), "Pa55word!");
  EXPECT_TRUE(state.record.accountCompleted);
  EXPECT_FALSE(state.record.provisioned());  // not before its home folder
  provisioning.CreateFolders();
  EXPECT_TRUE(state.record.provisioned());
}

TEST_F(ProvisioningTest, RefusedPasswordLeavesTheAccountDisabledAndReported) {
  directory.failWhen("SetPassword", 19);
  createUnitAndUser();
  const auto& user = directory.objects.at(userDn);
  EXPECT_EQ(user.count("userAccountControl"), 0u);
  EXPECT_EQ(user.count("pwdLastSet"), 0u);
  EXPECT_EQ(user.at("ScriptPath"), "logon.cmd");
  EXPECT_EQ(user.at("AccountExpirationDate"), "01/01/1970");
  EXPECT_TRUE(state.record.accountWritten);
  EXPECT_FALSE(state.record.provisioned());
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].step, "set the password");
}

TEST_F(ProvisioningTest, ExistingAccountIsLeftUnchanged) {
  createUnitAndUser();
  state.record = {};
  state.firstName = "Changed";
  state.password = "Other1pass!";
  provisioning.CreateUsers();
  const auto& user = directory.objects.at(userDn);
  EXPECT_EQ(user.at("givenName"), "John");
  EXPECT_EQ(user.at("password"), "Pa55word!");
  EXPECT_FALSE(state.record.accountWritten);
  EXPECT_FALSE(state.record.passwordSet);
  EXPECT_FALSE(state.record.accountCompleted);
  // It is the record's own (a re-run): what it refused is no failure.
  EXPECT_EQ(state.record.account, AccountOrigin::kExisted);
  EXPECT_FALSE(state.record.accountDisabled);
  EXPECT_THAT(state.record.failures, IsEmpty());
}

TEST_F(ProvisioningTest, CommonNameThatIsNoTextFailsTheRecordNotTheRun) {
  createUnitAndUser();
  state.record = {};
  state.commonName = "Bad \xFF";
  provisioning.CreateUsers();
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].step, "name the account");
  EXPECT_EQ(state.record.account, AccountOrigin::kNotCreated);
}

TEST_F(ProvisioningTest, FirstCommitLostWithItsConnectionIsNeverSentAgain) {
  directory.objects["OU=Sales,DC=example,DC=test"];
  directory.failWhen("SetInfo " + userDn + " givenName", 81);  // the server went away
  provisioning.CreateUsers();
  // A second add would create the account without its password.
  EXPECT_EQ(directory.objects.count(userDn), 0u);
  EXPECT_THAT(log.entries, Not(Contains(::testing::StartsWith("SetPassword"))));
  EXPECT_EQ(state.record.account, AccountOrigin::kNotCreated);
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].code, 81);
}

TEST_F(ProvisioningTest, ExistingAccountIsTheRecordsOwnOnlyAtItsDnWithItsLogonName) {
  const std::string otherDn = "cn=Administrator,CN=Users,DC=example,DC=test";
  struct Case {
    const char* what;
    std::map<std::string, std::map<std::string, std::string>> objects;
    AccountOrigin origin;
    std::string holder;
    bool disabled;
  };
  const std::vector<Case> cases = {
      {"own DN, logon name in another case, disabled",
       {{userDn, {{"sAMAccountName", "JDoe"}, {"userAccountControl", "514"}}}},
       AccountOrigin::kExisted,
       "",
       true},
      {"logon name held elsewhere",
       {{otherDn, {{"sAMAccountName", "jdoe"}}}},
       AccountOrigin::kForeign,
       otherDn,
       false},
      {"own DN holds another logon name, which is also held elsewhere",
       {{userDn, {{"sAMAccountName", "kroe"}}}, {otherDn, {{"sAMAccountName", "jdoe"}}}},
       AccountOrigin::kForeign,
       otherDn,
       false},
      {"own DN holds another logon name, nobody holds ours",
       {{userDn, {{"sAMAccountName", "kroe"}}}},
       AccountOrigin::kNotCreated,
       "",
       false},
      {"own DN holds no account at all", {{userDn, {}}}, AccountOrigin::kNotCreated, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CallLog caseLog;
    FakeDirectory caseDirectory{caseLog};
    caseDirectory.objects = c.objects;
    caseDirectory.objects["OU=Sales,DC=example,DC=test"];
    // The directory refuses a logon name that is taken, wherever it is.
    if (c.origin == AccountOrigin::kForeign && !c.objects.count(userDn)) {
      caseDirectory.failWhen("SetInfo " + userDn, kAlreadyExists);
    }
    RunState caseState;
    fillRecord(caseState, caseDirectory);
    Provisioning caseProvisioning{caseState, caseDirectory, view};
    caseProvisioning.CreateUsers();
    EXPECT_EQ(caseState.record.account, c.origin);
    EXPECT_EQ(caseState.record.accountHolder, c.holder);
    EXPECT_EQ(caseState.record.accountDisabled, c.disabled);
    // Nothing of the existing objects was changed.
    for (const auto& [dn, values] : c.objects) EXPECT_EQ(caseDirectory.objects.at(dn), values);
  }
}

TEST_F(ProvisioningTest, AccountLookupThatFailsLeavesTheRecordWithoutAnAccount) {
  directory.objects["OU=Sales,DC=example,DC=test"];
  directory.failWhen("SetInfo " + userDn, kAlreadyExists);
  directory.failWhen("find account", 81);
  provisioning.CreateUsers();
  EXPECT_EQ(state.record.account, AccountOrigin::kNotCreated);
  EXPECT_EQ(state.record.failures.front().code, kAlreadyExists);
}

TEST_F(ProvisioningTest, FailedUnitBindCreatesNoAccountInAnEarlierUnit) {
  createUnitAndUser();
  directory.failWhen("Bind LDAP://OU=");
  log.entries.clear();
  state.commonName = "Kim Roe";
  provisioning.CreateUsers();
  EXPECT_THAT(log.entries,
              ElementsAre("Get defaultNamingContext", "Bind LDAP://OU=Sales ,DC=example,DC=test"));
  EXPECT_EQ(state.record.failures.back().step, "bind the unit OU=Sales ,");
}

TEST_F(ProvisioningTest, FailedAccountCreateLeavesTheEarlierAccountUnchanged) {
  createUnitAndUser();
  directory.failWhen("Create User");
  log.entries.clear();
  state.firstName = "Changed";
  provisioning.CreateUsers();
  EXPECT_EQ(log.entries.back(), "Create User cn=John Doe");
  EXPECT_EQ(directory.objects.at(userDn).at("givenName"), "John");
}

TEST_F(ProvisioningTest, EmptyRootDseIsAFailureNotACrash) {
  state.rootDse.reset();
  createUnitAndUser();
  ASSERT_EQ(state.record.failures.size(), 2u);
  EXPECT_EQ(state.record.failures[0].code, kObjectRequired);
  EXPECT_THAT(log.entries, IsEmpty());
}

const std::string kHome = "\\\\files1\\home$\\jdoe";
const std::string kGrant = "grant " + kHome + " " + fakeSidText(0);

// The grant goes to the SID of the entry at the record's own DN, as the account
// step read it, never to one searched for by logon name (which could find a
// duplicate that replication has not yet resolved).
TEST_F(ProvisioningTest, GrantGoesToTheSidOfTheRecordsOwnDn) {
  directory.objects["cn=Dup,CN=Users,DC=example,DC=test"] = {{"sAMAccountName", "jdoe"},
                                                             {"objectSid", fakeObjectSid(7)}};
  for (int run = 0; run < 2; ++run) {  // a new account, then a re-run
    state.record = {};
    createUnitAndUser();
    log.entries.clear();
    provisioning.CreateFolders();
    EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "Get objectSid"), 0);
    EXPECT_EQ(log.entries.back(), kGrant);
  }
  // A SID that cannot be read fails the grant, as a name cacls cannot map.
  directory.failWhen("Get objectSid", 50);
  state.record = {};
  createUnitAndUser();
  provisioning.CreateFolders();
  EXPECT_EQ(log.entries.back(),
            "message 0 [] Error assigning permissions for user jdoe to home folder " + kHome);
  EXPECT_EQ(state.record.failures.back().reason, "read the account's SID: refused: Get objectSid");
}

TEST(HomeFolderPath, JoinsItsPiecesAsTheyAre) {
  EXPECT_EQ(homeFolderPath("files1", "home", "jdoe"), kHome);
  EXPECT_EQ(homeFolderPath("files 1", "my home", "j doe"), "\\\\files 1\\my home$\\j doe");
  EXPECT_EQ(homeFolderPath("", "home", "jdoe"), "\\\\\\home$\\jdoe");
  EXPECT_EQ(homeFolderPath("files1", "", "jdoe"), "\\\\files1\\$\\jdoe");
}

// A new account's folder is created with its access list, without asking
// first whether it is there; a re-run asks first.
TEST_F(ProvisioningTest, NewFolderIsCreatedWithItsAccessListWithoutAskingFirst) {
  provisioning.CreateFolders();
  EXPECT_EQ(state.homeFolder, kHome);
  EXPECT_THAT(log.entries, ElementsAre("CreateFolder " + kHome + " for " + fakeSidText(0),
                                       "FolderExists " + kHome, kGrant));
  EXPECT_TRUE(state.record.folderPresent);
  EXPECT_FALSE(state.record.folderFound);
  EXPECT_TRUE(state.record.permissionsSet);
  EXPECT_THAT(state.record.failures, IsEmpty());

  state.record.account = AccountOrigin::kExisted;
  files.folders.erase(kHome);
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries, ElementsAre("FolderExists " + kHome,
                                       "CreateFolder " + kHome + " for " + fakeSidText(0),
                                       "FolderExists " + kHome, kGrant));
}

// Found by its creation or by the question, an existing folder is granted
// without a message; one there before its new account becomes the
// Administrators' too, so that whoever made it keeps no owner's right to
// change its access list back. A name that is no folder cannot be created.
TEST_F(ProvisioningTest, ExistingFolderIsGrantedWithoutCreationOrMessage) {
  files.folders.insert(kHome);
  const std::string create = "CreateFolder " + kHome + " for " + fakeSidText(0);
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries, ElementsAre(create, "FolderExists " + kHome, "FolderExists " + kHome,
                                       "grantees " + kHome, kGrant + " Administrators own"));
  EXPECT_TRUE(state.record.folderFound);
  EXPECT_TRUE(state.record.permissionsSet);

  state.record = {};
  state.record.account = AccountOrigin::kExisted;
  state.record.accountSid = fakeSidText(0);
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries, ElementsAre("FolderExists " + kHome, "FolderExists " + kHome, kGrant));
  EXPECT_TRUE(state.record.permissionsSet);

  files.folders.erase(kHome);
  files.files[kHome] = {};
  state.record = {};
  state.record.account = AccountOrigin::kCreated;
  state.record.accountSid = fakeSidText(0);
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries,
              ElementsAre(create, "FolderExists " + kHome, "message 0 [] Cannot create: " + kHome,
                          "FolderExists " + kHome));
  EXPECT_FALSE(state.record.folderPresent);
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].code, EEXIST);
}

// A folder there before its new account is taken over only when it grants
// no user or computer account but the record's own, and none the domain no
// longer knows: a link to another user's folder, or a former user's folder,
// is left as it is and the record fails saying why.
TEST_F(ProvisioningTest, FolderThereBeforeItsNewAccountIsTakenOverOnlyWithoutAnotherAccount) {
  const auto add = [&](const std::string& dn, const char* type, std::uint32_t n, const char* name) {
    directory.objects[dn] = {{"objectClass", type}, {"objectSid", fakeObjectSid(n)}};
    if (name) directory.objects[dn]["sAMAccountName"] = name;
  };
  add("CN=Staff,DC=example,DC=test", "Group", 5, nullptr);
  add("CN=Victim,DC=example,DC=test", "User", 6, "victim");
  add("CN=PC1,DC=example,DC=test", "Computer", 7, "PC1$");
  const struct {
    std::vector<std::string> grantees;
    std::string other;  // "" when the folder is taken over
  } cases[] = {
      {{"S-1-5-32-544", "S-1-3-0", "S-1-5-18", "S-1-1-0", fakeSidText(0)}, ""},
      {{fakeSidText(5), "S-1-5-21-1-2-3-513"}, "S-1-5-21-1-2-3-513"},  // a group; one gone
      {{fakeSidText(5)}, ""},
      {{"S-1-5-32-544", fakeSidText(6)}, "victim"},
      {{fakeSidText(7)}, "PC1$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.grantees.back());
    files.folders.insert(kHome);
    files.granteesOf[kHome] = c.grantees;
    state.record = {};
    state.record.account = AccountOrigin::kCreated;
    state.record.accountSid = fakeSidText(0);
    log.entries.clear();
    provisioning.CreateFolders();
    const bool granted = std::find(log.entries.begin(), log.entries.end(),
                                   kGrant + " Administrators own") != log.entries.end();
    if (c.other.empty()) {
      EXPECT_TRUE(granted);
      EXPECT_TRUE(state.record.permissionsSet);
      EXPECT_THAT(state.record.failures, IsEmpty());
      continue;
    }
    EXPECT_FALSE(granted);
    EXPECT_FALSE(state.record.permissionsSet);
    ASSERT_EQ(state.record.failures.size(), 1u);
    EXPECT_EQ(state.record.failures[0].step, "");
    EXPECT_EQ(state.record.failures[0].reason,
              kHome + " already grants " + c.other + "; move it away and run again");
    EXPECT_EQ(log.entries.back(),
              "message 0 [] Error assigning permissions for user jdoe to home folder " + kHome);
  }
}

TEST_F(ProvisioningTest, FolderThatCannotBeCreatedIsToldAndGetsNoGrant) {
  files.refusedFolders[kHome] = EACCES;
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries,
              ElementsAre("CreateFolder " + kHome + " for " + fakeSidText(0),
                          "message 0 [] Cannot create: " + kHome, "FolderExists " + kHome));
  EXPECT_FALSE(state.record.folderPresent);
  ASSERT_FALSE(state.record.failures.empty());
  EXPECT_EQ(state.record.failures[0].step, "create the home folder");
  EXPECT_EQ(state.record.failures[0].code, EACCES);
  // A server that did not answer is not asked again, however long the box stayed.
  files.refusedFolders[kHome] = ETIMEDOUT;
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_EQ(log.entries.back(), "message 0 [] Cannot create: " + kHome);
}

TEST_F(ProvisioningTest, FailedGrantIsToldNamingTheAccountAndThePath) {
  files.grantCodes[kHome] = 1332;
  provisioning.CreateFolders();
  EXPECT_EQ(log.entries.back(),
            "message 0 [] Error assigning permissions for user jdoe to home folder " + kHome);
  EXPECT_EQ(state.permResult, 1332);
  EXPECT_FALSE(state.record.permissionsSet);
  ASSERT_EQ(state.record.failures.size(), 1u);
  EXPECT_EQ(state.record.failures[0].step, "set the permissions");
  EXPECT_EQ(state.record.failures[0].reason, "refused");
}

TEST_F(ProvisioningTest, EarlierRecordsFailedGrantNeverProducesAMessageForThisOne) {
  files.grantCodes[kHome] = 1332;
  provisioning.CreateFolders();
  state.record = {};
  state.record.account = AccountOrigin::kCreated;  // a new account whose folder cannot be made
  state.record.accountSid = fakeSidText(1);
  state.accountName = "asmith";
  files.refusedFolders["\\\\files1\\home$\\asmith"] = ENOENT;
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_THAT(log.entries, Contains("message 0 [] Cannot create: \\\\files1\\home$\\asmith"));
  EXPECT_THAT(log.entries, Not(Contains(::testing::HasSubstr("Error assigning permissions"))));
  EXPECT_FALSE(state.record.permissionRan);
  EXPECT_EQ(state.permResult, 1332);  // kept, as the last grant's code
}

TEST_F(ProvisioningTest, NoFileSystemObjectEntersBothBranchesAndIsNotAFolder) {
  state.fileSystem.reset();
  provisioning.CreateFolders();
  // Both tests fail instead of answering: the creation is tried (and fails),
  // and the grant runs as the command would.
  EXPECT_THAT(log.entries, ElementsAre("message 0 [] Cannot create: " + kHome, kGrant));
  EXPECT_FALSE(state.record.folderPresent);
  EXPECT_FALSE(state.record.provisioned());
}

TEST_F(ProvisioningTest, LogonNameEndingInABlankOrADotGetsNoFolderStep) {
  const std::string share = "\\\\files1\\home$\\";
  for (const auto& [name, windows] :
       {std::pair{"jdoe.", "jdoe"}, {"jdoe. ", "jdoe"}, {"...", ""}, {"j.doe", "j.doe"}}) {
    state.record = {};
    state.record.account = AccountOrigin::kCreated;
    state.record.accountSid = fakeSidText(0);
    state.accountName = name;
    log.entries.clear();
    provisioning.CreateFolders();
    if (state.accountName == windows) {
      EXPECT_TRUE(state.record.folderDone());
      continue;
    }
    EXPECT_THAT(log.entries, IsEmpty());  // nothing on the share is looked at or touched
    ASSERT_EQ(state.record.failures.size(), 1u);
    EXPECT_EQ(state.record.failures[0].reason,
              "the logon name ends in a blank or a dot, which Windows drops: " + share + name +
                  " would be " + share + windows + ", another folder");
  }
}

TEST_F(ProvisioningTest, FolderStepLeavesEveryFolderAloneWithoutAnAccountOfTheRecords) {
  for (const AccountOrigin origin : {AccountOrigin::kNotCreated, AccountOrigin::kForeign}) {
    state.record = {};
    state.record.account = origin;
    files.grantCodes[kHome] = 5;
    log.entries.clear();
    provisioning.CreateFolders();
    EXPECT_THAT(log.entries, IsEmpty());  // no look, no folder, no grant, no message
    EXPECT_FALSE(state.record.permissionRan);
  }
  state.record = {};
  state.record.account = AccountOrigin::kExisted;
  state.record.accountSid = fakeSidText(0);
  files.folders.insert(kHome);
  files.grantCodes.clear();
  log.entries.clear();
  provisioning.CreateFolders();
  EXPECT_TRUE(state.record.alreadyExisted());  // a re-run repairs the folder's permissions
  EXPECT_EQ(log.entries.back(), kGrant);       // its owner was set when its account was new
}

}  // namespace
}  // namespace kestrine
