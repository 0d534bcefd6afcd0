#pragma once

#include <string>
#include <vector>

namespace kestrine {

// What a permission grant ended with: the exit code of the command that the
// Windows shell runs for it (0 for success), and why it failed.
struct GrantResult {
  int exitCode = 0;
  std::string reason;
};

// The command shell object. The run uses it for one thing: giving the
// Administrators group and an account, named by its SID ("S-1-5-21-..."),
// full control of a home folder and of everything below it, replacing their
// access lists and going on past access errors below the folder. With
// `administratorsOwn` (a folder that was there before its new account),
// BUILTIN\Administrators becomes the owner of all of it as well.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual GrantResult grantFullControl(const std::string& folder, const std::string& accountSid,
                                       bool administratorsOwn) = 0;
  // The SIDs ("S-1-...") that the folder's own access list allows anything
  // to, each once: whose it may be before it is taken over.
  virtual std::vector<std::string> grantees(const std::string& folder) = 0;
};

}  // namespace kestrine
