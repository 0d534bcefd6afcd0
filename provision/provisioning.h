#pragma once

#include <set>
#include <string>

#include "platform/directory.h"
#include "run/run_state.h"
#include "run/run_view.h"

namespace kestrine {

// The provisioning procedures of the main window. Each takes every input from
// the run state and leaves its results there, absorbs its own failures and
// returns normally; failures also go into the record's outcome.
class Provisioning {
 public:
  Provisioning(RunState& state, Directory& directory, RunView& view)
      : state_(state), directory_(directory), view_(view) {}

  // Creates the record's organizational unit below the domain root.
  void CreateOU();
  // Creates the record's user account in its unit, in two commits.
  void CreateUsers();
  // Creates the record's home folder on its server's hidden share and gives
  // the Administrators group and the account full control of it; tells the
  // administrator when either fails.
  void CreateFolders();

 private:
  // After a first commit that failed: whether the account at the record's own
  // DN is the record's (a re-run), or whom the logon name belongs to.
  void identifyExistingAccount(const std::string& ownPath);
  // The SID of the entry at the record's own DN, unless the account step
  // read it already: the grant never goes to one found by logon name, which
  // a duplicate that replication has not yet resolved could share. Its
  // failure is the grant's, as for a name cacls cannot map.
  GrantResult readAccountSid();
  // The logon name (or, unknown to the domain, the SID) of a user or
  // computer account other than the record's own that the folder's access
  // list grants anything to; "" when none.
  std::string otherAccountGranted(const std::string& folder);
  void tellPermissionsFailed();
  // Whether a folder step's failure gets a box of its own: one cause that
  // strikes record after record gets one box, at its first record.
  bool worthABox(const Failure& failure, int error);
  std::string serverKey() const;  // the record's file server, as names compare

  RunState& state_;
  Directory& directory_;
  RunView& view_;
  bool signInFailureShown_ = false;
  std::set<std::string> unansweredServersShown_;  // ... until they answer again
};

// \\server\share$\logon: the home folder of an account.
std::string homeFolderPath(const std::string& fileServer, const std::string& shareBase,
                           const std::string& accountName);

}  // namespace kestrine
