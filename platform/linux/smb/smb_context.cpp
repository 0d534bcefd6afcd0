#include "platform/linux/smb/smb_context.h"

#include <libsmbclient.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/kerberos_ticket.h"
#include "platform/linux/smb/smb_permissions.h"
#include "platform/text/path_names.h"

namespace kestrine {

namespace {

constexpr std::size_t kDescriptorBufferSize = 16 * 1024;
// Kerberos decides who we are; nothing is asked or filled in.
void noCredentials(SMBCCTX*, const char*, const char*, char*, int, char*, int, char*, int) {}

bool resolves(const std::string& host) {
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, nullptr, &found) != 0) return false;
  freeaddrinfo(found);
  return true;
}

// libsmbclient learns that a server dropped a cached connection only when a
// call on it fails; the call after that connects afresh. Setting an access
// list on a dropped connection fails without saying why.
constexpr int kUnexplained = -1;

bool connectionLost(int error) {
  return error == ECONNRESET || error == ECONNABORTED || error == EPIPE || error == ENOTCONN ||
         error == ENETRESET || error == kUnexplained;
}

// Access lists are read and set through a second connection, to IPC$ and its
// LSA service. When that fails, libsmbclient says "not supported" and marks
// the share's cached connection, so that every later access list call on it
// fails at once without a reason: only a new connection tries again.
bool accessListConnectionFailed(int error) {
  return error == ENOTSUP || error == kUnexplained;
}

constexpr const char* kAccessListConnectionRefused =
    "the file server refused the connection through which access lists are read and set (its "
    "IPC$ share or LSA service)";

const char* refusedWhy(int error) {
  return error == ENOTSUP ? kAccessListConnectionRefused : nullptr;
}

// The file server is column 7 of the record; Kerberos has no service ticket
// for an address, and the run never signs in otherwise.
Reply replyOf(int error, bool accessList) {
  if (error == ETIMEDOUT) return Reply::kNoAnswer;
  if (accessList && accessListConnectionFailed(error)) return Reply::kLost;
  return connectionLost(error) ? Reply::kLost : Reply::kAnswered;
}

UncPath onShare(const std::string& path) {
  const auto unc = parseUncPath(path);
  if (!unc) throw FileError(EINVAL, path + " is not a folder on a network share");
  return *unc;
}

std::string urlOf(const char* doing, const UncPath& path) {
  try {
    return path.url();
  } catch (const FileError& e) {
    throw FileError(e.code(), std::string(doing) + " " + e.what());
  }
}

}  // namespace

void SmbContext::Free::operator()(SMBCCTX* context) const {
  smbc_free_context(context, 1);
}

SmbContext::SmbContext(ConnectionSettings settings, NetworkWait* wait)
    : settings_(settings), wait_(wait) {}
SmbContext::~SmbContext() = default;

SMBCCTX* SmbContext::context() {
  if (context_) return context_.get();
  if (setupFailure_) throw *setupFailure_;
  // The ticket's principal, never $USER: an empty one would make the first
  // login anonymous. Not kept as a failure of the context: kinit may follow.
  const KerberosTicket ticket = callersTicket();
  if (ticket.principal.empty() || !ticket.problem.empty()) {
    throw FileError(EACCES, std::string("sign in to the file server: ") +
                                (ticket.problem.empty() ? kNoTicket : ticket.problem));
  }
  std::unique_ptr<SMBCCTX, Free> context(smbc_new_context());
  if (context) {
    smbc_setOptionUseKerberos(context.get(), 1);
    smbc_setOptionFallbackAfterKerberos(context.get(), 0);
    smbc_setOptionNoAutoAnonymousLogin(context.get(), 1);
    smbc_setUser(context.get(), ticket.principal.c_str());
    smbc_setFunctionAuthDataWithContext(context.get(), noCredentials);
    smbc_setTimeout(context.get(), static_cast<int>(settings_.timeout.count() * 1000));
    // Sealed where the server can (SMB 3), and signed always: no access list
    // is altered on the way, as the directory traffic is sealed.
    smbc_setOptionSmbEncryptionLevel(context.get(), SMBC_ENCRYPTLEVEL_REQUEST);
  }
  if (!context || !smbc_init_context(context.get())) {
    const int error = errno != 0 ? errno : ENOMEM;
    // smbc_init_context frees nothing on failure; the context is still ours.
    setupFailure_.emplace(error, std::string("set up the SMB client: ") + std::strerror(error));
    throw *setupFailure_;
  }
  context_ = std::move(context);
  return context_.get();
}

template <class Request>
int SmbContext::call(const char* doing, const UncPath& path, Request request, int* firstError,
                     bool accessList) {
  created_.reset();
  listed_.reset();
  if (namesAnAddress(path.server)) {
    // libsmbclient would only say that access is denied.
    throw FileError(EINVAL, std::string(doing) + " " + path.text() + ": " + kServerByAddress);
  }
  ServerRules& rules =
      servers_.try_emplace(foldedCase(path.server), settings_, wait_).first->second;
  if (rules.held()) {
    throw FileError(ETIMEDOUT, std::string(doing) + " " + path.text() + ": " +
                                   heldReason(settings_, kFileServerRole));
  }
  struct Armed {
    CallDeadline& deadline;
    ~Armed() { deadline.disarm(); }
  } armed{deadline_};
  deadline_.arm(path.server, std::chrono::steady_clock::now() + settings_.timeout);
  int error = 0;
  int first = 0;
  int tries = 0;
  rules.call(true, [&] {
    SMBCCTX* smb = context();
    // The repeat goes over new connections: a cached one may be dead, or
    // marked as unable to reach the access lists.
    if (tries > 0) smbc_getFunctionPurgeCachedServers(smb)(smb);
    errno = 0;
    error = request(smb) ? 0 : errno != 0 ? errno : kUnexplained;
    // Whatever a call cut short at its deadline reports, it went unanswered.
    if (error != 0 && deadline_.overdue()) error = ETIMEDOUT;
    if (tries++ == 0) first = error;
    return replyOf(error, accessList);
  });
  if (firstError) *firstError = first;
  // A repeat that fails without a reason leaves the first try's.
  return error == kUnexplained && first != 0 ? first : error;
}

void SmbContext::fail(const char* doing, const UncPath& path, int error,
                      const char* explained) const {
  if (error == kUnexplained) error = EIO;
  std::string reason = std::strerror(error);
  if (error == ETIMEDOUT) {
    reason = noAnswerReason(settings_, kFileServerRole);
  } else if (error == EINVAL || error == EACCES || error == EPERM) {
    // libsmbclient says "invalid argument" for a server it cannot find, and
    // for a login without a ticket; the name service may take its time too.
    std::string ticketProblem;
    bool found = true;
    runOn(wait_, [&] {
      ticketProblem = callersTicket().problem;
      if (error == EINVAL && ticketProblem.empty()) found = resolves(path.server);
    });
    if (!ticketProblem.empty()) {
      reason = ticketProblem;
    } else if (!found) {
      reason = "no server of that name was found";
    }
  }
  if (explained) reason = std::string(explained) + ": " + reason;
  throw FileError(error, std::string(doing) + " " + path.text() + ": " + reason);
}

bool SmbContext::folderByStat(const UncPath& path) {
  const std::string url = urlOf("look up", path);
  struct stat info {};
  const int error = call("look up", path, [&](SMBCCTX* smb) {
    return smbc_getFunctionStat(smb)(smb, url.c_str(), &info) == 0;
  });
  if (error != 0) fail("look up", path, error);
  return S_ISDIR(info.st_mode);
}

void SmbContext::createFolder(const std::string& path) {
  const auto unc = parseUncPath(path);
  if (!unc || unc->folders.empty()) {
    throw FileError(EINVAL, "create " + path + ": not a folder path \\\\server\\share\\folder");
  }
  const std::string url = urlOf("create", *unc);
  const auto create = [&](SMBCCTX* smb) {
    return smbc_getFunctionMkdir(smb)(smb, url.c_str(), 0777) == 0;
  };
  int first = 0;
  int error = call("create", *unc, create, &first);
  // A lost try may have made the folder: "exists" on the second cannot tell
  // ours from one that was there before, so the first failure stands.
  if (error == EEXIST) error = first;
  if (error != 0) fail("create", *unc, error);
  created_ = *unc;
}

bool SmbContext::createdJustNow(const std::string& folder) const {
  const auto unc = parseUncPath(folder);
  return unc && created_ == *unc;
}

bool SmbContext::isFolder(const std::string& folder) {
  const UncPath path = onShare(folder);
  if (created_ == path) return true;
  if (listed_ && listed_->path == path && !listed_->askedAgain) {
    listed_->askedAgain = true;
    return true;
  }
  try {
    Listing listing = listFromServer(path);
    listed_ = Listed{path, std::move(listing)};
    return true;
  } catch (const FileError& e) {
    if (e.code() == ENOENT || e.code() == ENOTDIR) return false;
    // A server that did not answer is not asked again; a folder that cannot
    // be listed may still be there.
    if (e.code() == ETIMEDOUT) throw;
  }
  return folderByStat(path);
}

FileServer::Listing SmbContext::list(const std::string& folder) {
  const UncPath path = onShare(folder);
  if (listed_ && listed_->path == path) {
    Listing listing = std::move(listed_->listing);
    listed_.reset();
    return listing;
  }
  return listFromServer(path);
}

FileServer::Listing SmbContext::listFromServer(const UncPath& path) {
  const std::string url = urlOf("list", path);
  Listing listing;
  const int error = call("list", path, [&](SMBCCTX* smb) {
    // The whole listing arrives with the open; reading it asks the server
    // nothing more.
    SMBCFILE* folder = smbc_getFunctionOpendir(smb)(smb, url.c_str());
    if (!folder) return false;
    listing = {};
    struct stat info {};
    while (const auto* entry = smbc_getFunctionReaddirPlus2(smb)(smb, folder, &info)) {
      const std::string name(entry->name);
      if (name == ".") {
        listing.id = info.st_ino;
      } else if (name == "..") {
        listing.parentId = info.st_ino;
      } else {
        listing.entries.push_back(
            {name, S_ISDIR(info.st_mode), (entry->attrs & kReparsePoint) != 0});
      }
    }
    smbc_getFunctionClosedir(smb)(smb, folder);
    return true;
  });
  if (error != 0) fail("list", path, error);
  return listing;
}

std::string SmbContext::securityDescriptor(const UncPath& path) {
  const std::string url = urlOf("read the access list of", path);
  std::string buffer(kDescriptorBufferSize, '\0');
  const int error = call(
      "read the access list of", path,
      [&](SMBCCTX* smb) {
        return smbc_getFunctionGetxattr(smb)(smb, url.c_str(), "system.nt_sec_desc.*",
                                             buffer.data(), buffer.size()) >= 0;
      },
      nullptr, true);
  if (error != 0) fail("read the access list of", path, error, refusedWhy(error));
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void SmbContext::setSecurityDescriptor(const UncPath& path, const std::string& descriptor) {
  const std::string url = urlOf("set the access list of", path);
  // An access list changes no names: what was read of the folder stays true.
  std::optional<Listed> listed = std::move(listed_);
  if (listed && !(listed->path == path)) listed.reset();
  // The whole access list is replaced: a second call leaves what the first did.
  const int error = call(
      "set the access list of", path,
      [&](SMBCCTX* smb) {
        return smbc_getFunctionSetxattr(smb)(smb, url.c_str(), "system.nt_sec_desc.*",
                                             descriptor.data(), descriptor.size(), 0) == 0;
      },
      nullptr, true);
  if (error != 0) fail("set the access list of", path, error, refusedWhy(error));
  listed_ = std::move(listed);
}

void SmbContext::setFullControl(const std::string& path, const std::string& accountSid,
                                bool folder) {
  setSecurityDescriptor(onShare(path), fullControlDescriptor(accountSid, folder));
}

}  // namespace kestrine
