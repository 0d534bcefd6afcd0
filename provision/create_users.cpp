#include <cstdint>

#include "platform/dn.h"
#include "provision/provisioning.h"

namespace kestrine {

namespace {
constexpr std::int16_t kNormalAccount = 512;
constexpr std::int16_t kPasswordSetNow = -1;
}  // namespace

void Provisioning::CreateUsers() {
  GuardedSteps step(&state_.record.failures);
  RecordOutcome& outcome = state_.record;

  if (!step("bind the unit " + state_.ouPath, [&] {
        const auto context = bound(state_.rootDse, "rootDse").Get("defaultNamingContext");
        state_.userContainer = directory_.Bind("LDAP://" + state_.ouPath + context);
      })) {
    return;  // userContainer is an earlier record's unit: no account goes there
  }
  const std::string relativeName = "cn=" + escapeDnValue(state_.commonName);
  if (!step("create the account " + relativeName,
            [&] { state_.newUser = state_.userContainer->Create("User", relativeName); })) {
    return;  // newUser is an earlier record's account: leave it unchanged
  }
  DirectoryObject& user = *state_.newUser;

  step("put sAMAccountName", [&] { user.Put("sAMAccountName", state_.accountName); });
  step("put givenName", [&] { user.Put("givenName", state_.firstName); });
  step("put sn", [&] { user.Put("sn", state_.lastName); });
  step("put userPrincipalName", [&] { user.Put("userPrincipalName", state_.principalName); });
  outcome.accountWritten = step("write the account", [&] { user.SetInfo(); });

  step("put AccountExpirationDate",
       [&] { user.Put("AccountExpirationDate", std::string("01/01/1970")); });
  step("put ScriptPath", [&] { user.Put("ScriptPath", state_.logonScript); });
  step("put userAccountControl", [&] { user.Put("userAccountControl", kNormalAccount); });
  step("put pwdLastSet", [&] { user.Put("pwdLastSet", kPasswordSetNow); });
  outcome.passwordSet = step("set the password", [&] { user.SetPassword(state_.password); });

  if (!outcome.passwordSet) {
    // Enabling the account now would leave it open without the password it
    // was meant to get; it stays disabled as the first commit left it.
    user.Forget("userAccountControl");
    user.Forget("pwdLastSet");
  }
  outcome.accountCompleted = step("complete the account", [&] { user.SetInfo(); });
}

}  // namespace kestrine
