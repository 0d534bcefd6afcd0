#include "platform/directory/directory_values.h"
#include "provision/provisioning.h"

#include <cctype>
#include <cerrno>
#include <utility>

namespace kestrine {

namespace {

// Windows drops blanks and dots at the end of a path's last name.
std::string asWindowsReadsIt(std::string folder) {
  while (!folder.empty() && (folder.back() == ' ' || folder.back() == '.')) folder.pop_back();
  return folder;
}

}  // namespace

std::string homeFolderPath(const std::string& fileServer, const std::string& shareBase,
                           const std::string& accountName) {
  return "\\\\" + fileServer + "\\" + shareBase + "$\\" + accountName;
}

GrantResult Provisioning::readAccountSid() {
  RecordOutcome& outcome = state_.record;
  if (!outcome.accountSid.empty()) return {};
  try {
    outcome.accountSid = sidText(directory_.Bind(outcome.accountPath)->Get("objectSid"));
  } catch (const PlatformError& e) {
    // As cacls fails for a name it cannot map.
    return {e.code() != 0 ? e.code() : kNoSuchObject,
            std::string("read the account's SID: ") + e.what()};
  }
  return {};
}

std::string Provisioning::otherAccountGranted(const std::string& folder) {
  const std::string& own = state_.record.accountSid;
  for (const std::string& sid : bound(state_.shell, "shell").grantees(folder)) {
    // Built-in and well-known SIDs (Administrators, SYSTEM, CREATOR OWNER,
    // Everyone) are no one's account; a domain's begin with S-1-5-21-.
    if (sid == own || !sid.starts_with("S-1-5-21-")) continue;
    const Directory::SidHolder holder = directory_.sidHolder(sid);
    if (holder.kind == Directory::SidHolder::kOther) continue;  // a group
    if (holder.kind == Directory::SidHolder::kNothing) return sid;
    return holder.logonName.empty() ? sid : holder.logonName;
  }
  return {};
}

bool Provisioning::worthABox(const Failure& failure, int error) {
  switch (failure.kind) {
    case FailureKind::kServerGivenUp:
      return false;  // the box of the step that waited for the server told it
    case FailureKind::kSignIn:
      return !std::exchange(signInFailureShown_, true);
    default:
      // A server that does not answer is one cause until it answers again,
      // however many records' writes it leaves unanswered meanwhile.
      return error != ETIMEDOUT || unansweredServersShown_.insert(serverKey()).second;
  }
}

std::string Provisioning::serverKey() const {
  std::string key = state_.fileServer;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

void Provisioning::CreateFolders() {
  GuardedSteps step(&state_.record.failures);
  RecordOutcome& outcome = state_.record;

  step("build the home folder path", [&] {
    state_.homeFolder = homeFolderPath(state_.fileServer, state_.shareBase, state_.accountName);
  });
  const std::string& folder = state_.homeFolder;
  // A folder is made and granted for the record's own account only: never
  // for a logon name that belongs to someone else, and never for none.
  if (!outcome.ownsAccount()) return;
  // \\server\home$\jdoe. is jdoe's folder to Windows: someone else's. Such a
  // name gets no folder step at all, on every platform.
  if (const std::string windows = asWindowsReadsIt(folder); windows != folder) {
    outcome.folderNameRefused = true;
    outcome.failures.push_back({"create the home folder", EINVAL,
                                "the logon name ends in a blank or a dot, which Windows drops: " +
                                    folder + " would be " + windows + ", another folder"});
    return;
  }

  // The grant names the account by its SID, which the folder gets in its
  // creation request already.
  const GrantResult sidRead = readAccountSid();
  const bool sidKnown = sidRead.exitCode == 0;
  // A new account's folder is created without asking first whether it is
  // there: the creation tells, in the same round trip.
  const bool askFirst = outcome.account != AccountOrigin::kCreated || !sidKnown;

  // A test that fails instead of answering enters its branch.
  bool missing = true;
  if (askFirst) {
    step("look for the home folder",
         [&] { missing = !bound(state_.fileSystem, "fileSystem").FolderExists(folder); });
    outcome.folderFound = !missing;
  }
  if (missing) {
    step("create the home folder", [&] {
      FileSystem& files = bound(state_.fileSystem, "fileSystem");
      if (!sidKnown) return files.CreateFolder(folder);
      if (files.CreateFolderFor(folder, outcome.accountSid)) return;
      // The name was taken: a folder there goes on as one that was found.
      if (!files.FolderExists(folder)) {
        throw FileError(EEXIST, "create " + folder + ": the name is taken by what is no folder");
      }
      outcome.folderFound = true;
    });
    const int error = step.errorNumber();
    if (error == 0) unansweredServersShown_.erase(serverKey());
    if (error != 0 && worthABox(step.lastFailure(), error)) {
      step("tell that the folder cannot be created",
           [&] { view_.messageBox("Cannot create: " + folder, 0, ""); });
    }
    // A file server that did not answer is not asked again in this step,
    // however long the message box stayed open.
    if (error == ETIMEDOUT) return;
  }

  bool present = true;
  const bool answered = step("look for the home folder", [&] {
    present = bound(state_.fileSystem, "fileSystem").FolderExists(folder);
  });
  outcome.folderPresent = answered && present;
  if (!present) return;

  // A folder there before its new account may be someone else's: a link to
  // another user's folder, or a former user's. It is taken over only when
  // its access list grants no other account.
  if (outcome.folderPredatesAccount() && sidKnown) {
    std::string other;
    const bool read =
        step("read the home folder's access list", [&] { other = otherAccountGranted(folder); });
    if (!read) return;  // what could not be looked at is not taken over
    if (!other.empty()) {
      state_.permResult = EACCES;
      outcome.permissionRan = true;
      outcome.permissionsSet = false;
      // The summary line is the reason alone.
      outcome.failures.push_back(
          {"", EACCES, folder + " already grants " + other + "; move it away and run again"});
      tellPermissionsFailed();
      return;
    }
  }

  GrantResult grant;
  step("set the permissions", [&] {
    Shell& shell = bound(state_.shell, "shell");
    grant = sidKnown ? shell.grantFullControl(folder, outcome.accountSid,
                                              outcome.folderPredatesAccount())
                     : sidRead;
    state_.permResult = grant.exitCode;
    outcome.permissionRan = true;
  });
  // Only this record's own grant is judged: an earlier record's result says
  // nothing about this folder.
  if (!outcome.permissionRan) return;
  outcome.permissionsSet = state_.permResult == 0;
  if (outcome.permissionsSet) return;
  outcome.failures.push_back({"set the permissions", state_.permResult, grant.reason});
  tellPermissionsFailed();
}

void Provisioning::tellPermissionsFailed() {
  GuardedSteps step(&state_.record.failures);
  step("tell that the permissions failed", [&] {
    view_.messageBox("Error assigning permissions for user " + state_.accountName +
                         " to home folder " + state_.homeFolder,
                     0, "");
  });
}

}  // namespace kestrine
