#include "platform/linux/smb/smb_file_server.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <stdexcept>

#include "platform/linux/kerberos_ticket.h"
#include "platform/linux/smb/ntstatus.h"
#include "platform/text/path_names.h"
#include "platform/text/printable.h"

namespace kestrine {

namespace {

using smb::SharePath;

smb::SecurityDescriptor fullControl(const std::string& accountSid, bool folder) {
  try {
    return smb::protectedFullControl({smb::administratorsSid(), smb::Sid::parse(accountSid)},
                                     folder);
  } catch (const std::invalid_argument&) {
    throw FileError(EINVAL, "\"" + printable(accountSid) + "\" is no security identifier");
  }
}

// [MS-SMB2] 3.2.5.1.5: a session the server has ended or let expire is
// signed in to again; the request did not reach any file.
bool sessionGone(std::uint32_t status) {
  return status == smb::STATUS_NETWORK_SESSION_EXPIRED ||
         status == smb::STATUS_USER_SESSION_DELETED;
}

// What one try of an operation came to, for the server's rules, and the
// failure as the seam reports it.
struct Outcome {
  Reply reply = Reply::kAnswered;
  std::exception_ptr failure;
};

// `waited`: how long the answer that did not come was awaited.
Outcome outcomeOf(const std::string& doing, std::chrono::seconds waited) {
  const auto fileError = [&](int code, const std::string& reason) {
    return std::make_exception_ptr(FileError(code, doing + ": " + reason));
  };
  try {
    throw;
  } catch (const smb::StatusError& e) {
    return {sessionGone(e.status()) ? Reply::kLost : Reply::kAnswered,
            std::make_exception_ptr(FileError(smb::errnoForStatus(e.status()), e.what()))};
  } catch (const smb::TransportError& e) {
    switch (e.failure()) {
      case smb::TransportFailure::kTimedOut:
        return {Reply::kNoAnswer, fileError(ETIMEDOUT, noAnswerReason(waited, kFileServerRole))};
      case smb::TransportFailure::kLost:
        return {Reply::kLost, fileError(ECONNRESET, e.what())};
      case smb::TransportFailure::kNotFound:
        return {Reply::kAnswered, fileError(EHOSTUNREACH, e.what())};
      case smb::TransportFailure::kRefused:
        return {Reply::kAnswered, fileError(ECONNREFUSED, e.what())};
    }
  } catch (const smb::SignInError& e) {
    switch (e.failure()) {
      case smb::SignInFailure::kTimedOut:
        // A KDC that did not answer holds the sign-in, and so the file server.
        return {Reply::kNoAnswer, fileError(ETIMEDOUT, e.what())};
      case smb::SignInFailure::kNoTicket:
      case smb::SignInFailure::kTicketExpired:
        // The caller's ticket: the same for every server and every record.
        return {Reply::kAnswered,
                std::make_exception_ptr(FileError(EACCES, e.what(), FailureKind::kSignIn))};
      default:
        return {Reply::kAnswered, fileError(EACCES, e.what())};
    }
  } catch (const smb::ObjectChanged& e) {
    return {Reply::kAnswered, std::make_exception_ptr(FileError(ELOOP, e.what()))};
  } catch (const smb::ReplyRefused& e) {
    return {Reply::kAnswered, fileError(EPROTO, std::string("reply refused: ") + e.what())};
  } catch (const smb::MalformedReply& e) {
    return {Reply::kAnswered, fileError(EPROTO, std::string("reply refused: ") + e.what())};
  } catch (const FileError&) {
    return {Reply::kAnswered, std::current_exception()};
  }
  return {Reply::kAnswered, fileError(EIO, "failed")};
}

std::vector<std::string> allowedSids(const smb::SecurityDescriptor& descriptor) {
  std::vector<std::string> sids;
  if (!descriptor.dacl) return sids;
  for (const smb::Ace& ace : descriptor.dacl->aces) {
    if (ace.type != smb::ACCESS_ALLOWED_ACE_TYPE || !ace.sid) continue;
    std::string sid = ace.sid->toString();
    if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(std::move(sid));
  }
  return sids;
}

FileServer::Listing seamListing(const smb::Listing& listing) {
  FileServer::Listing out;
  out.id = listing.id;
  out.parentId = listing.parentId;
  for (const smb::DirectoryEntry& entry : listing.entries) {
    out.entries.push_back({entry.name, (entry.fileAttributes & smb::FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (entry.fileAttributes & smb::FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                           entry.reparseTag, entry.fileId});
  }
  return out;
}

// The access list setFullControl gives, with Administrators as owner when asked.
smb::SecurityDescriptor fullControl(const FileServer::FullControl& grant) {
  smb::SecurityDescriptor descriptor = fullControl(grant.accountSid, grant.folder);
  if (grant.administratorsOwn) descriptor.owner = smb::administratorsSid();
  return descriptor;
}

// The folder that holds what the path names, for what a batch was doing.
SharePath folderOf(SharePath path) {
  const std::size_t last = path.path.rfind('\\');
  path.path = last == std::string::npos ? "" : path.path.substr(0, last);
  return path;
}

OpenedObject openedObject(const smb::ObjectInfo& info) {
  return {info.fileId, info.isReparsePoint(), info.reparseTag};
}

}  // namespace

SmbFileServer::SmbFileServer(ConnectionSettings settings, NetworkWait* wait)
    : SmbFileServer(std::make_unique<smb::Client>(), settings, wait) {}

SmbFileServer::SmbFileServer(std::unique_ptr<smb::Client> client, ConnectionSettings settings,
                             NetworkWait* wait)
    : client_(std::move(client)), settings_(settings), wait_(wait) {}

SmbFileServer::~SmbFileServer() = default;

SharePath SmbFileServer::onShare(const std::string& doing, const std::string& path) const {
  try {
    return SharePath::parse(path);
  } catch (const std::invalid_argument& e) {
    throw FileError(EINVAL, doing + " " + e.what());
  }
}

template <class Operation>
auto SmbFileServer::call(const std::string& doing, const SharePath& path, Operation operation) {
  const std::string what = doing + " " + path.unc();
  if (namesAnAddress(path.server)) throw FileError(EINVAL, what + ": " + kServerByAddress);
  const auto [known, added] = servers_.try_emplace(foldedCase(path.server), settings_, wait_);
  ServerRules& rules = known->second;
  if (added) rules.name(path.server);
  if (rules.held()) {
    throw FileError(ETIMEDOUT, what + ": " + heldReason(settings_, kFileServerRole),
                    FailureKind::kServerGivenUp);
  }
  // One wait for the whole operation, its repeat included, from its first
  // try on: the call may have waited for the server's hold first.
  const bool silentBefore = rules.silent();
  smb::Deadline deadline{};
  using Result = decltype(operation(deadline, false));
  std::optional<Result> result;
  std::exception_ptr last;
  Reply lastReply = Reply::kAnswered;
  int tries = 0;
  rules.call(true, [&] {
    if (tries == 0) deadline = smb::Clock::now() + settings_.timeout;
    writeWaited_.reset();
    try {
      result.emplace(operation(deadline, tries++ > 0));
      last = nullptr;
      lastReply = Reply::kAnswered;
      return Reply::kAnswered;
    } catch (...) {
      const Outcome outcome = outcomeOf(what, writeWaited_.value_or(settings_.timeout));
      // Whatever the connection's state, the next try opens a new one.
      if (outcome.reply != Reply::kAnswered) client_->drop(path.server);
      last = outcome.failure;
      lastReply = outcome.reply;
      return outcome.reply;
    }
  });
  if (last && lastReply == Reply::kNoAnswer && rules.held() && silentBefore) {
    // Given up on by now: the call that first met its silence told it.
    try {
      std::rethrow_exception(last);
    } catch (const FileError& e) {
      throw FileError(e.code(), e.what(), FailureKind::kServerGivenUp);
    }
  }
  if (last) std::rethrow_exception(last);
  return std::move(*result);
}

smb::Deadline SmbFileServer::writeAnswerDeadline(const SharePath& path) {
  writeWaited_ = servers_.at(foldedCase(path.server)).writeWait();
  return smb::Clock::now() + *writeWaited_;
}

bool SmbFileServer::createFolder(const std::string& path, const std::string& accountSid) {
  const SharePath folder = onShare("create", path);
  created_.reset();
  listed_.reset();
  if (folder.path.empty()) {
    throw FileError(EINVAL, "create " + path + ": not a folder path \\\\server\\share\\folder");
  }
  std::optional<smb::SecurityDescriptor> descriptor;
  if (!accountSid.empty()) descriptor = fullControl(accountSid, true);
  bool lostOnce = false;
  const bool made = call("create", folder, [&](smb::Deadline deadline, bool repeat) {
    lostOnce = lostOnce || repeat;
    try {
      client_->createFolder(folder, descriptor, deadline,
                            [&] { return writeAnswerDeadline(folder); });
      return true;
    } catch (const smb::StatusError& e) {
      if (e.status() != smb::STATUS_OBJECT_NAME_COLLISION) throw;
      // A lost try may have made the folder: a collision on its repeat
      // cannot tell ours from one that was there before.
      if (lostOnce) {
        throw FileError(EIO, "create " + folder.unc() +
                                 ": the connection was lost, and the folder is there now; "
                                 "whose it is cannot be told");
      }
      return false;
    }
  });
  if (made) created_ = Created{folder, accountSid};
  return made;
}

bool SmbFileServer::createdJustNow(const std::string& folder) const {
  try {
    return created_ && created_->path == SharePath::parse(folder);
  } catch (const std::invalid_argument&) {
    return false;
  }
}

bool SmbFileServer::createdGrantingTo(const std::string& folder,
                                      const std::string& accountSid) const {
  return !accountSid.empty() && createdJustNow(folder) && created_->accountSid == accountSid;
}

smb::Listing SmbFileServer::listFromServer(const SharePath& path) {
  return call("list", path,
              [&](smb::Deadline deadline, bool) { return client_->list(path, deadline); });
}

bool SmbFileServer::isFolder(const std::string& path) {
  const SharePath folder = onShare("look up", path);
  if (created_ && created_->path == folder) return true;
  created_.reset();
  if (listed_ && listed_->path == folder && !listed_->askedAgain) {
    listed_->askedAgain = true;
    return true;
  }
  listed_.reset();
  try {
    listed_ = Listed{folder, listFromServer(folder)};
    return true;
  } catch (const FileError& e) {
    if (e.code() == ENOENT || e.code() == ENOTDIR) return false;
    // A folder that cannot be listed may still be there.
    if (e.code() != EACCES) throw;
  }
  const std::optional<smb::ObjectInfo> found =
      call("look up", folder, [&](smb::Deadline deadline, bool) {
        try {
          return client_->stat(folder, deadline);
        } catch (const smb::StatusError& e) {
          if (smb::errnoForStatus(e.status()) != ENOENT) throw;
          return std::optional<smb::ObjectInfo>();
        }
      });
  return found && found->isFolder();
}

FileServer::Listing SmbFileServer::list(const std::string& folder) {
  const SharePath path = onShare("list", folder);
  created_.reset();
  if (listed_ && listed_->path == path) {
    const Listing listing = seamListing(listed_->listing);
    listed_.reset();
    return listing;
  }
  listed_.reset();
  return seamListing(listFromServer(path));
}

std::vector<std::string> SmbFileServer::grantees(const std::string& path) {
  return allowedSids(readSecurity(path));
}

smb::SecurityDescriptor SmbFileServer::readSecurity(const std::string& path) {
  const SharePath target = onShare("read the access list of", path);
  return call("read the access list of", target, [&](smb::Deadline deadline, bool) {
    return client_->readSecurity(target, deadline);
  });
}

void SmbFileServer::setSecurity(const std::string& path,
                                const smb::SecurityDescriptor& descriptor) {
  const SharePath target = onShare("set the access list of", path);
  created_.reset();
  // An access list changes no names: what was read of the folder stays true.
  std::optional<Listed> listed = std::move(listed_);
  listed_.reset();
  if (listed && !(listed->path == target)) listed.reset();
  call("set the access list of", target, [&](smb::Deadline deadline, bool) {
    return client_->setSecurity(target, descriptor, deadline);
  });
  listed_ = std::move(listed);
}

void SmbFileServer::setFullControl(const std::string& path, const FullControl& grant) {
  const SharePath target = onShare("set the access list of", path);
  const smb::SecurityDescriptor descriptor = fullControl(grant);
  created_.reset();
  // An access list changes no names: what was read of the folder stays true.
  std::optional<Listed> listed = std::move(listed_);
  listed_.reset();
  if (listed && !(listed->path == target)) listed.reset();
  if (listed && !knownFileId(grant.listedId)) {
    // The folder was listed a moment ago: its own entry says what it is
    // before anything is sent, and the set's own handle says it again in the
    // same compound, so that a folder the grant has just asked about costs
    // one round trip. Opened as itself, nothing is ever set through it.
    const smb::Listing& read = listed->listing;
    requireListedObject(
        target.unc(),
        {read.id, (read.attributes & smb::FILE_ATTRIBUTE_REPARSE_POINT) != 0, read.reparseTag}, 0);
    const smb::ObjectInfo opened =
        call("set the access list of", target, [&](smb::Deadline deadline, bool) {
          return client_->setSecurity(target, descriptor, deadline);
        });
    requireListedObject(target.unc(), openedObject(opened), read.id);
  } else {
    // The handle's check comes before the set (ObjectChanged: ELOOP).
    const smb::SecurityTarget checked{target, &descriptor, grant.listedId};
    call("set the access list of", target, [&](smb::Deadline deadline, bool) {
      smb::SecurityOutcome only = client_->setSecurityChecked({checked}, deadline).front();
      if (only.error) std::rethrow_exception(only.error);
      return true;
    });
  }
  listed_ = std::move(listed);
}

std::vector<FileServer::Granted> SmbFileServer::setFullControlAll(
    const std::vector<Target>& targets, const ListingCheck& accept) {
  created_.reset();
  listed_.reset();
  std::vector<Granted> outcomes(targets.size());
  // The objects of one server, kBatchSize at a time, in their order.
  std::map<std::string, std::vector<std::size_t>> byServer;
  std::vector<SharePath> paths(targets.size());
  std::vector<smb::SecurityDescriptor> descriptors(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    try {
      paths[i] = onShare("set the access list of", targets[i].path);
      descriptors[i] = fullControl(targets[i].grant);
      byServer[foldedCase(paths[i].server)].push_back(i);
    } catch (const FileError& e) {
      outcomes[i].error = e;
    }
  }
  for (const auto& [server, indexes] : byServer) {
    for (std::size_t from = 0; from < indexes.size(); from += kBatchSize) {
      const std::vector<std::size_t> chunk(
          indexes.begin() + static_cast<std::ptrdiff_t>(from),
          indexes.begin() +
              static_cast<std::ptrdiff_t>(std::min(from + kBatchSize, indexes.size())));
      std::vector<smb::SecurityTarget> batch;
      for (const std::size_t i : chunk) {
        batch.push_back(
            {paths[i], &descriptors[i], targets[i].grant.listedId, targets[i].listFirst});
      }
      const std::string doing =
          "set the access lists of " + std::to_string(chunk.size()) + " objects in";
      try {
        const std::vector<smb::SecurityOutcome> done =
            call(doing, folderOf(paths[chunk.front()]), [&](smb::Deadline deadline, bool) {
              return client_->setSecurityChecked(batch, deadline,
                                                 [&](std::size_t k, const smb::Listing& listing) {
                                                   return accept(chunk[k], seamListing(listing));
                                                 });
            });
        for (std::size_t k = 0; k < chunk.size(); ++k) {
          Granted& outcome = outcomes[chunk[k]];
          outcome.set = done[k].set;
          if (done[k].listing) outcome.listing = seamListing(*done[k].listing);
          if (!done[k].error) continue;
          // As a call of its own would have said it.
          try {
            std::rethrow_exception(done[k].error);
          } catch (...) {
            try {
              std::rethrow_exception(outcomeOf(doing, settings_.timeout).failure);
            } catch (const PlatformError& e) {
              outcome.error = e;
            }
          }
        }
      } catch (const PlatformError& e) {
        for (const std::size_t i : chunk) outcomes[i].error = e;
      }
    }
  }
  return outcomes;
}

}  // namespace kestrine
