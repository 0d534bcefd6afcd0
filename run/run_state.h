#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/shell.h"
#include "run/guarded_steps.h"

namespace kestrine {

// Whose account the record's logon name stands for after the account step.
enum class AccountOrigin {
  kNotCreated,  // none: the record made no account and found none of its own
  kCreated,     // this record's first commit created it
  kExisted,     // it was already at the record's own DN with the record's logon name
  kForeign,     // the logon name belongs to another object of the domain
};

// How far the record in hand got, and what failed on the way. The provisioning
// procedures fill it in; the run counts and reports the record from it.
struct RecordOutcome {
  bool accountWritten = false;  // the first commit created the account
  bool passwordSet = false;
  bool accountCompleted = false;  // the second commit was accepted
  AccountOrigin account = AccountOrigin::kNotCreated;
  bool accountDisabled = false;    // an existing account of the record's, found disabled
  std::string accountHolder;       // kForeign: the DN of the object that holds the logon name
  std::string accountPath;         // kCreated, kExisted: LDAP://<the record's own DN>
  std::string accountSid;          // ... its objectSid as text, once read
  bool folderFound = false;        // the home folder was there before the creation step
  bool folderPresent = false;      // the home folder was there after the creation step
  bool permissionRan = false;      // a permission grant ran for this record
  bool permissionsSet = false;     // ... and ended with 0
  bool folderNameRefused = false;  // the logon name can have no home folder of its own
  std::vector<Failure> failures;

  // Only the record's own account gets a home folder.
  bool ownsAccount() const {
    return account == AccountOrigin::kCreated || account == AccountOrigin::kExisted;
  }
  // Given its password and enabled: an account that a user can sign in to.
  bool accountUsable() const { return passwordSet && accountCompleted; }
  bool folderDone() const { return folderPresent && permissionsSet; }
  bool provisioned() const {
    return account == AccountOrigin::kCreated && accountUsable() && folderDone();
  }
  bool alreadyExisted() const { return account == AccountOrigin::kExisted && folderDone(); }
  // A new account that got a folder someone had before: its access list was
  // replaced all the same, and the administrator may want to look at it.
  bool tookExistingFolder() const { return provisioned() && folderFound; }
  // Whoever made such a folder keeps no owner's rights over it.
  bool folderPredatesAccount() const { return account == AccountOrigin::kCreated && folderFound; }
};

// The variables through which the import run and the provisioning procedures
// exchange every value. They live as long as the main window and are never
// cleared between records, which is how a short record carries over the values
// of the one before it.
struct RunState {
  std::shared_ptr<DirectoryObject> rootDse;
  std::shared_ptr<DirectoryObject> userContainer;
  std::shared_ptr<DirectoryObject> newUser;
  std::shared_ptr<DirectoryObject> newOu;
  std::shared_ptr<DirectoryObject> domainRoot;
  std::shared_ptr<Shell> shell;
  std::unique_ptr<TextStream> inputStream;
  std::string ouPath;
  std::string ouRdn;
  std::string csvPath;
  std::vector<std::string> fields;
  std::string commonName;
  std::string accountName;
  std::string firstName;
  std::string lastName;
  std::string password;
  std::string principalName;
  std::string logonScript;
  std::string upnSuffix;
  std::string fileServer;
  std::shared_ptr<FileSystem> fileSystem;
  int permResult = 0;  // empty before the first grant, and empty compares equal to 0
  std::string homeFolder;
  std::string shareBase;
  int recordCount = 0;

  RecordOutcome record;
  // Column 5 as the last record that had it wrote it, and the most columns
  // (up to ten) that a record of the run had: what a failed record is saved
  // with, so that the saved line does what the record did.
  std::string unitName;
  std::size_t columnsTaken = 0;
};

}  // namespace kestrine
