#include <charconv>
#include <cstdint>

#include "platform/directory/directory_values.h"
#include "platform/directory/dn.h"
#include "platform/text/path_names.h"
#include "provision/provisioning.h"

namespace kestrine {

namespace {
constexpr std::int16_t kNormalAccount = 512;
constexpr std::int16_t kPasswordSetNow = -1;
constexpr long kAccountDisabled = 0x2;

// sAMAccountName is compared without regard to case by the directory.
bool sameLogonName(const std::string& a, const std::string& b) {
  return foldedCase(a) == foldedCase(b);
}

bool flagSet(const std::string& number, long flag) {
  long value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  return error == std::errc() && (value & flag) != 0;
}

}  // namespace

void Provisioning::CreateUsers() {
  GuardedSteps step(&state_.record.failures);
  RecordOutcome& outcome = state_.record;
  outcome.account = AccountOrigin::kNotCreated;

  std::string context;
  if (!step("bind the unit " + state_.ouPath, [&] {
        context = bound(state_.rootDse, "rootDse").Get("defaultNamingContext");
        state_.userContainer = directory_.Bind("LDAP://" + state_.ouPath + context);
      })) {
    return;  // userContainer is an earlier record's unit: no account goes there
  }
  std::string relativeName;
  // Text that is no name (not UTF-8) fails its step like any other.
  if (!step("name the account", [&] { relativeName = "cn=" + escapeDnValue(state_.commonName); }) ||
      !step("create the account " + relativeName,
            [&] { state_.newUser = state_.userContainer->Create("User", relativeName); })) {
    return;  // newUser is an earlier record's account: leave it unchanged
  }
  DirectoryObject& user = *state_.newUser;

  step("put sAMAccountName", [&] { user.Put("sAMAccountName", state_.accountName); });
  step("put givenName", [&] { user.Put("givenName", state_.firstName); });
  step("put sn", [&] { user.Put("sn", state_.lastName); });
  step("put userPrincipalName", [&] { user.Put("userPrincipalName", state_.principalName); });
  outcome.accountWritten = step("write the account", [&] { user.SetInfo(); });
  const std::string ownPath = "LDAP://" + relativeName + "," + state_.ouPath + context;
  if (!outcome.accountWritten) {
    // The later steps could only fail on an object the directory does not
    // hold, or, after a write lost with its connection, add the account a
    // second time without its password. Only a refusal because the name is
    // taken says whose account is there.
    if (step.lastFailure().code == kAlreadyExists) identifyExistingAccount(ownPath);
    return;
  }
  outcome.account = AccountOrigin::kCreated;
  outcome.accountPath = ownPath;

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
  // The entry came back with the account's first change after the add, and
  // it carries the SID: the grant needs no read of its own. Without it, the
  // grant reads the entry.
  try {
    outcome.accountSid = sidText(user.Get("objectSid"));
  } catch (const DirectoryError&) {
  }
}

void Provisioning::identifyExistingAccount(const std::string& ownPath) {
  RecordOutcome& outcome = state_.record;
  try {
    std::shared_ptr<DirectoryObject> own;
    try {
      own = directory_.Bind(ownPath);
    } catch (const DirectoryError& e) {
      if (e.code() != kNoSuchObject) throw;
    }
    std::string logonName;
    std::string flags;
    if (own) {
      // An object at the record's DN that is no account has neither.
      try {
        logonName = own->Get("sAMAccountName");
        flags = own->Get("userAccountControl");
      } catch (const DirectoryError&) {
      }
    }
    if (own && sameLogonName(logonName, state_.accountName)) {
      // A re-run: the account is the record's own. What it refused to this
      // record's writes is no failure; it stays as it is.
      outcome.account = AccountOrigin::kExisted;
      outcome.accountDisabled = flagSet(flags, kAccountDisabled);
      outcome.accountPath = ownPath;
      // The read that found the account carries its SID: the grant needs no
      // other. Without it, the grant reads the entry once more.
      try {
        outcome.accountSid = sidText(own->Get("objectSid"));
      } catch (const DirectoryError&) {
      }
      outcome.failures.clear();
      return;
    }
    outcome.accountHolder = directory_.accountDn(state_.accountName);
    if (!outcome.accountHolder.empty()) outcome.account = AccountOrigin::kForeign;
  } catch (const PlatformError&) {
    // Nothing could be learnt: the record has no account of its own.
  }
}

}  // namespace kestrine
