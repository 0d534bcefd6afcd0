#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_server.h"
#include "platform/file_system.h"
#include "platform/linux/smb/client.h"
#include "platform/server_rules.h"

namespace kestrine {

// The file servers that hold the home folders, through Kestrine's own SMB2/3
// client: one signed (and, where the server can, sealed) session per server
// for the whole run, signed in with the caller's Kerberos ticket; no server
// named by its address, which Kerberos cannot serve. Each server is held to
// the rules of every server (ServerRules), by its name: one wait of at most
// the settings' timeout per call, its connect, name lookup and sign-in
// included, counted once any wait for the server's hold is over; a call that
// lost its connection made once more on a new one; a server that did not
// answer waited for, and once given up, left alone for `retryAfter`.
// Failures are FileErrors with an errno and what was being done, the path
// and what the server said; kServerGivenUp for a call on a server given up,
// kSignIn for the caller's Kerberos ticket (none, expired, refused as such).
class SmbFileServer : public FileServer {
 public:
  // Without a wait, the client is called on the caller's thread.
  explicit SmbFileServer(ConnectionSettings settings = {}, NetworkWait* wait = nullptr);
  // Over a client of the caller's (tests: another transport or sign-in).
  SmbFileServer(std::unique_ptr<smb::Client> client, ConnectionSettings settings,
                NetworkWait* wait);
  ~SmbFileServer() override;

  // One listing answers, and serves the grant that follows: asked again
  // right after, or listed, the folder costs no further request.
  bool isFolder(const std::string& path) override;
  bool createFolder(const std::string& path, const std::string& accountSid) override;
  bool createdJustNow(const std::string& folder) const override;
  bool createdGrantingTo(const std::string& folder, const std::string& accountSid) const override;
  Listing list(const std::string& folder) override;
  std::vector<std::string> grantees(const std::string& path) override;
  // In one compound (open, what it is read on its handle, set, close) for
  // the folder just listed, its listing's own entry checked first; else in
  // two flights, the check on the handle before the set.
  void setFullControl(const std::string& path, const FullControl& grant) override;
  // A folder's entries in two flights (their opens, checks and the listings
  // of the subfolders, then the sets), kBatchSize objects at a time, each
  // batch one operation under the server's rules: on a lost connection the
  // whole batch is made once more, which sets the same access lists again.
  std::vector<Granted> setFullControlAll(const std::vector<Target>& targets,
                                         const ListingCheck& accept) override;
  // The most objects whose handles a batch keeps open at once.
  static constexpr std::size_t kBatchSize = 1024;

  // For tests that arrange and look at a share as a client of their own.
  smb::SecurityDescriptor readSecurity(const std::string& path);
  void setSecurity(const std::string& path, const smb::SecurityDescriptor& descriptor);

 private:
  // Runs one operation on the path's server under its rules, once more on a
  // new connection when the first try lost its own; the first failure of a
  // repeat that cannot tell is kept. Throws at once while the server is held.
  template <class Operation>
  auto call(const std::string& doing, const smb::SharePath& path, Operation operation);
  smb::SharePath onShare(const std::string& doing, const std::string& path) const;
  // Until when the answer to a write about to go to the path's server is
  // awaited, under its rules; within call() only.
  smb::Deadline writeAnswerDeadline(const smb::SharePath& path);
  smb::Listing listFromServer(const smb::SharePath& path);

  std::unique_ptr<smb::Client> client_;
  ConnectionSettings settings_;
  NetworkWait* wait_;
  // By server name in lower case.
  std::map<std::string, ServerRules> servers_;
  // How long the try in hand awaited its write's answer, once sent.
  std::optional<std::chrono::seconds> writeWaited_;
  // What the last call created, and for whom ("" for no one).
  struct Created {
    smb::SharePath path;
    std::string accountSid;
  };
  std::optional<Created> created_;
  // What isFolder read of a folder, until it is listed, another call is made
  // (but for setting the folder's access list, which changes no names) or
  // the folder is asked about a third time.
  struct Listed {
    smb::SharePath path;
    smb::Listing listing;
    bool askedAgain = false;
  };
  std::optional<Listed> listed_;
};

}  // namespace kestrine
