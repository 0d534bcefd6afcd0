#include "platform/directory/session_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "platform/directory_link.h"

namespace kestrine {
namespace {

using ::testing::ElementsAre;

// A server in memory that records what it is asked.
class RecordingSession : public DirectorySession {
 public:
  Entry readEntry(const std::string& dn) override {
    calls.push_back("read " + dn);
    const auto found = entries.find(attributeKey(dn));
    if (found == entries.end()) throw DirectoryError(kNoSuchObject, "no such object " + dn);
    return found->second;
  }
  std::vector<Entry> search(const std::string& base, const std::string& filter,
                            const std::vector<std::string>&) override {
    calls.push_back("search " + base + " " + filter);
    return found;
  }
  void add(const std::string& dn, const std::vector<AttributeValues>& attributes) override {
    std::string names;
    for (const auto& attribute : attributes) names += " " + attribute.name;
    calls.push_back("add " + dn + names);
    if (entries.count(attributeKey(dn))) throw DirectoryError(kAlreadyExists, "exists");
    Entry& entry = entries[attributeKey(dn)];
    entry.dn = dn;
    for (const auto& attribute : attributes) {
      entry.attributes[attributeKey(attribute.name)] = attribute.values;
    }
  }
  // Fails as `refuse` and `lose` say, by the attributes' names.
  void replace(const std::string& dn, const std::vector<AttributeValues>& attributes) override {
    std::string names;
    for (const auto& attribute : attributes) names += " " + attribute.name;
    calls.push_back("replace " + dn + names + (std::exchange(withRead, false) ? " +read" : ""));
    if (refuse.count(names)) throw DirectoryError(19, "refused:" + names);
    if (lose.count(names)) throw ConnectionLost(-1, "lost:" + names);
  }
  // The read is answered unless the connection is lost.
  void replaceAndRead(const std::string& dn, const std::vector<AttributeValues>& attributes,
                      std::optional<Entry>& read) override {
    withRead = true;
    std::string names;
    for (const auto& attribute : attributes) names += " " + attribute.name;
    if (!lose.count(names)) read = Entry{dn, {{"objectsid", {"S-" + dn}}}};
    replace(dn, attributes);
  }

  std::map<std::string, Entry> entries{
      {"", {"", {{"defaultnamingcontext", {"DC=example,DC=test"}}}}},
      {"dc=example,dc=test", {"DC=example,DC=test", {{"objectclass", {"top", "domainDNS"}}}}}};
  std::vector<Entry> found;
  std::vector<std::string> calls;
  std::set<std::string> refuse;
  std::set<std::string> lose;
  bool withRead = false;
};

class SessionDirectoryTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingSession> session = std::make_shared<RecordingSession>();
  SessionDirectory directory{session};
};

TEST_F(SessionDirectoryTest, RootAndUnitsAreReadOnceAccountsEveryTime) {
  const auto root = directory.Bind("LDAP://DC=example,DC=test");
  root->Create("organizationalUnit", "OU=Sales")->SetInfo();
  directory.Bind("LDAP://rootDSE");
  directory.Bind("LDAP://rootDSE");
  directory.Bind("LDAP://OU=Sales ,DC=example,DC=test");
  const auto unit = directory.Bind("LDAP://OU=Sales,DC=example,DC=test");
  auto user = unit->Create("User", "cn=Kim Roe");
  user->Put("sAMAccountName", std::string("kroe"));
  user->SetInfo();
  directory.Bind("LDAP://cn=Kim Roe,OU=Sales,DC=example,DC=test");
  directory.Bind("LDAP://cn=Kim Roe,OU=Sales,DC=example,DC=test");
  // The unit it added is known; the account it added is asked for each time.
  EXPECT_THAT(session->calls, ElementsAre("read DC=example,DC=test",
                                          "add OU=Sales,DC=example,DC=test objectClass", "read ",
                                          "add cn=Kim Roe,OU=Sales,DC=example,DC=test objectClass "
                                          "sAMAccountName",
                                          "read cn=Kim Roe,OU=Sales,DC=example,DC=test",
                                          "read cn=Kim Roe,OU=Sales,DC=example,DC=test"));
}

TEST_F(SessionDirectoryTest, KnownUnitIsNotAddedAgainAndHeldValuesGoOutOnce) {
  const auto root = directory.Bind("LDAP://DC=example,DC=test");
  root->Create("organizationalUnit", "OU=Sales")->SetInfo();
  try {
    root->Create("organizationalUnit", "OU=SALES")->SetInfo();
    FAIL() << "a unit the run added is added again";
  } catch (const DirectoryError& e) {
    EXPECT_EQ(e.code(), kAlreadyExists);
  }
  auto user = root->Create("User", "cn=A");
  user->Put("givenName", std::string());  // no value: left out of the add
  user->Put("sn", std::string("B"));
  user->SetInfo();
  user->Put("ScriptPath", std::string("x.cmd"));
  user->Put("AccountExpirationDate", std::string("01/01/1970"));
  user->Forget("AccountExpirationDate");
  user->SetInfo();
  user->SetInfo();  // nothing held: nothing sent
  EXPECT_THAT(session->calls,
              ElementsAre("read DC=example,DC=test", "add OU=Sales,DC=example,DC=test objectClass",
                          "add cn=A,DC=example,DC=test objectClass sn",
                          "replace cn=A,DC=example,DC=test scriptPath +read"));
}

TEST_F(SessionDirectoryTest, PasswordOnlyForAnAccountInTheDirectory) {
  auto user = directory.Bind("LDAP://DC=example,DC=test")->Create("User", "cn=A");
  EXPECT_THROW(user->SetPassword("x"), DirectoryError);
  user->SetInfo();
  user->SetPassword("x");
  EXPECT_EQ(session->calls.back(), "replace cn=A,DC=example,DC=test unicodePwd +read");
}

// The password takes the values held for SetInfo along in one modify, which
// also reads the new entry back. A refused modify says not for which value:
// the password goes alone, the rest stays held for SetInfo, as without it.
// One whose connection was lost is never sent again.
TEST_F(SessionDirectoryTest, PasswordTakesTheHeldValuesAlongInOneFlight) {
  const std::string r = "replace cn=A,DC=example,DC=test";
  const std::string both = " unicodePwd scriptPath userAccountControl";
  const std::string flight = r + both + " +read";
  struct Case {
    std::set<std::string> refuse, lose;
    bool passwordSet;
    std::vector<std::string> calls;  // after the add
  } const cases[] = {
      {{}, {}, true, {flight}},
      {{both, " unicodePwd"}, {}, false, {flight, r + " unicodePwd", r + " scriptPath"}},
      {{both}, {}, true, {flight, r + " unicodePwd", r + " scriptPath userAccountControl"}},
      {{}, {both}, false, {flight, r + " scriptPath +read"}},
  };
  for (const Case& c : cases) {
    auto caseSession = std::make_shared<RecordingSession>();
    std::tie(caseSession->refuse, caseSession->lose) = std::tie(c.refuse, c.lose);
    auto user =
        SessionDirectory(caseSession).Bind("LDAP://DC=example,DC=test")->Create("User", "cn=A");
    user->SetInfo();
    caseSession->calls.clear();
    user->Put("ScriptPath", std::string("x.cmd"));
    user->Put("userAccountControl", std::int16_t{512});
    bool passwordSet = true;
    try {
      user->SetPassword("Pa55word!");
    } catch (const DirectoryError&) {
      passwordSet = false;
      user->Forget("userAccountControl");  // as the account step does
    }
    user->SetInfo();
    EXPECT_EQ(passwordSet, c.passwordSet) << c.calls.back();
    EXPECT_EQ(caseSession->calls, c.calls);
    EXPECT_EQ(user->Get("objectSid"), "S-cn=A,DC=example,DC=test");
  }
}

TEST_F(SessionDirectoryTest, AccountsAreFoundByAnEscapedLogonName) {
  session->found = {{"CN=Administrator,CN=Users,DC=example,DC=test", {}}};
  directory.Bind("LDAP://rootDSE");
  EXPECT_EQ(directory.accountDn("adm*"), "CN=Administrator,CN=Users,DC=example,DC=test");
  EXPECT_EQ(session->calls.back(),
            "search DC=example,DC=test (&(objectClass=user)(sAMAccountName=adm\\2a))");
  session->found.clear();
  EXPECT_EQ(directory.accountDn("nobody"), "");
}

TEST_F(SessionDirectoryTest, PathsThatNameNoObjectAreRefused) {
  for (const char* path : {"", "LDAP://", "ldap:/x", "GC://DC=example,DC=test", "LDAP://no dn"}) {
    EXPECT_THROW(directory.Bind(path), DirectoryError) << path;
  }
}

}  // namespace
}  // namespace kestrine
