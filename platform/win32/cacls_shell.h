#pragma once

#include <chrono>
#include <string>
#include <utility>

#include "platform/file_system.h"

namespace kestrine {

// How long a grant may take before it counts as hung. cacls walks the whole
// folder tree, over the network; a new home folder is small, one that was
// there already may not be.
inline constexpr std::chrono::milliseconds kGrantTimeLimit = std::chrono::minutes(10);

// The local name of the Administrators group (S-1-5-32-544), which differs by
// the system's language; "Administrators" when it cannot be looked up.
std::string administratorsGroupName();

// Grants full control with cacls run by cmd.exe (%COMSPEC%) in a window that
// opens minimized, and waits for it. The result is cacls' exit code; a
// command that cannot be built or started, or that outlasts the time limit
// (it is then ended with everything it started), is a failure with a Windows
// error code and its reason.
class CaclsShell : public Shell {
 public:
  explicit CaclsShell(std::string administrators = administratorsGroupName(),
                      std::chrono::milliseconds timeLimit = kGrantTimeLimit)
      : administrators_(std::move(administrators)), timeLimit_(timeLimit) {}

  GrantResult grantFullControl(const std::string& folder, const std::string& account) override;

 private:
  std::string administrators_;
  std::chrono::milliseconds timeLimit_;
};

}  // namespace kestrine
