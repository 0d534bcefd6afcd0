#pragma once

#include "platform/directory.h"
#include "run/run_state.h"

namespace kestrine {

// The provisioning procedures of the main window. Each takes every input from
// the run state and leaves its results there, absorbs its own failures and
// returns normally; failures also go into the record's outcome.
class Provisioning {
 public:
  Provisioning(RunState& state, Directory& directory) : state_(state), directory_(directory) {}

  // Creates the record's organizational unit below the domain root.
  void CreateOU();
  // Creates the record's user account in its unit, in two commits.
  void CreateUsers();

 private:
  RunState& state_;
  Directory& directory_;
};

}  // namespace kestrine
