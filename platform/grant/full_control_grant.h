#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/file_server.h"
#include "platform/file_system.h"
#include "platform/shell.h"

namespace kestrine {

// How many folder levels below a home folder the grant goes. Deeper lies a
// loop that the server's file IDs did not reveal, or a tree no home folder
// has; it is reported and left as it is.
inline constexpr int kMaxFolderDepth = 64;

// Grants rights in-process, by the account's SID: the grant that "cacls
// <folder> /t /c /g Administrators:f <account>:F" makes, on every platform
// through its FileServer. The walk below the folder sets every path once, goes on past entries that
// refuse, and never follows a junction or a link: an entry that is one, or a folder that turns out
// to lie elsewhere than its name says, is neither changed nor entered. Each object is set by itself
// (no system pass below it), checked on the set's own handle against what its folder's listing
// said; a folder's entries go to the server as one batch, with the listings of its subfolders; a
// home folder that is itself a junction or link is refused as a whole.
class FullControlGrant : public Shell {
 public:
  explicit FullControlGrant(std::shared_ptr<FileServer> server) : server_(std::move(server)) {}

  GrantResult grantFullControl(const std::string& folder, const std::string& accountSid,
                               bool administratorsOwn) override;
  std::vector<std::string> grantees(const std::string& folder) override {
    return server_->grantees(folder);
  }

 private:
  std::shared_ptr<FileServer> server_;
};

}  // namespace kestrine
