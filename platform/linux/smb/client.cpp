#include "platform/linux/smb/client.h"

#include <algorithm>

#include "platform/linux/smb/dfs.h"
#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb {
namespace {

// One QUERY_DIRECTORY or QUERY_INFO asks for at most this much: one credit.
constexpr std::uint32_t kOutputLength = 65536;
constexpr int kMaxReferralHops = 4;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return out;
}

void expectSuccess(const Response& response, const std::string& doing) {
  if (response.header.status != STATUS_SUCCESS) throw StatusError(doing, response.header.status);
}

// The first failure of a related compound names what failed: the requests
// after it fail only because it did.
void expectAll(const std::vector<Response>& responses, const std::string& doing) {
  for (const Response& response : responses) expectSuccess(response, doing);
}

Request related(std::uint16_t command, Bytes body, const Tree& tree) {
  return Request{command, std::move(body), tree.treeId};
}

std::uint32_t securityInformation(const SecurityDescriptor& descriptor) {
  return DACL_SECURITY_INFORMATION | (descriptor.owner ? OWNER_SECURITY_INFORMATION : 0);
}

// What identifies an opened object, asked on the handle the request before
// opened: its attributes with its reparse tag ([MS-FSCC] 2.4.6), and its file
// ID ([MS-FSCC] 2.4.22). objectInfo() reads the two answers.
std::vector<Request> identityQueries(const Tree& tree) {
  return {related(SMB2_QUERY_INFO,
                  encodeQueryInfoRequest(SMB2_0_INFO_FILE, FileAttributeTagInformation, 8, 0,
                                         kRelatedFileId),
                  tree),
          related(SMB2_QUERY_INFO,
                  encodeQueryInfoRequest(SMB2_0_INFO_FILE, FileInternalInformation, 8, 0,
                                         kRelatedFileId),
                  tree)};
}

// The open, then the requests that follow it in one related compound.
std::vector<Request> compound(Request open, std::vector<Request> first,
                              std::vector<Request> then = {}) {
  std::vector<Request> requests{std::move(open)};
  for (Request& request : first) requests.push_back(std::move(request));
  for (Request& request : then) requests.push_back(std::move(request));
  return requests;
}

ObjectInfo objectInfo(const Response& tag, const Response& internal) {
  ObjectInfo info;
  const AttributeTag attributes =
      decodeFileAttributeTagInformation(decodeQueryInfoResponse(tag.reader()));
  info.attributes = attributes.fileAttributes;
  if (info.isReparsePoint()) info.reparseTag = attributes.reparseTag;
  info.fileId = decodeFileInternalInformation(decodeQueryInfoResponse(internal.reader()));
  return info;
}

// A server that does not have FileIdExtdDirectoryInformation says so thus.
bool extdRefusal(std::uint32_t status) {
  return status == STATUS_INVALID_INFO_CLASS || status == STATUS_NOT_SUPPORTED ||
         status == STATUS_INVALID_PARAMETER;
}

bool knownId(std::uint64_t id) {
  return id != 0 && id != 0xFFFFFFFFFFFFFFFF;
}

}  // namespace

struct Client::Server {
  std::unique_ptr<Session> session;
  std::map<std::string, Tree> trees;  // by lower-case share name
  // FileIdExtdDirectoryInformation refused once: the server lists with
  // FileIdBothDirectoryInformation.
  bool extdRefused = false;
};

Client::Client(Connector connect, SignIn signIn, std::vector<std::uint16_t> dialects)
    : connect_(std::move(connect)), signIn_(std::move(signIn)), dialects_(std::move(dialects)) {}

Client::~Client() = default;

Client::Server& Client::server(const std::string& name, Deadline deadline) {
  std::unique_ptr<Server>& slot = servers_[lower(name)];
  if (slot && slot->session->connection().usable()) return *slot;
  slot.reset();
  auto fresh = std::make_unique<Server>();
  std::unique_ptr<SecurityContext> context = signIn_(name);
  fresh->session = Session::open(connect_(name, deadline), *context, name, deadline, dialects_);
  slot = std::move(fresh);
  return *slot;
}

Tree& Client::tree(const SharePath& path, Deadline deadline) {
  Server& state = server(path.server, deadline);
  const std::string key = lower(path.share);
  const auto found = state.trees.find(key);
  if (found != state.trees.end()) return found->second;
  Tree connected = state.session->connectTree("\\\\" + path.server + "\\" + path.share, deadline);
  return state.trees.emplace(key, connected).first->second;
}

const SessionInfo* Client::sessionInfo(const std::string& name) const {
  const auto found = servers_.find(lower(name));
  return found == servers_.end() || !found->second ? nullptr : &found->second->session->info();
}

void Client::drop(const std::string& name) {
  servers_.erase(lower(name));
}

void Client::closeConnection(const std::string& name, const std::string& reason) {
  const auto found = servers_.find(lower(name));
  if (found != servers_.end() && found->second) found->second->session->connection().close(reason);
}

// [MS-SMB2] 3.2.4.3: on a share in a DFS namespace the name is the whole
// DFS path without its leading backslash, sent with SMB2_FLAGS_DFS_OPERATIONS.
Request Client::createRequest(const Tree& tree, const SharePath& path, CreateRequest create) const {
  create.createOptions |= FILE_OPEN_REPARSE_POINT;
  if (tree.dfs()) {
    create.name = path.server + "\\" + path.share + (path.path.empty() ? "" : "\\" + path.path);
  } else {
    create.name = path.path;
  }
  Request request{SMB2_CREATE, encodeCreateRequest(create), tree.treeId};
  request.dfs = tree.dfs();
  return request;
}

// The longest DFS path learnt that the path starts with, replaced by its target.
SharePath Client::resolve(const SharePath& path) const {
  const std::string unc = path.unc();
  const std::string key = lower(unc);
  for (auto it = referrals_.rbegin(); it != referrals_.rend(); ++it) {
    const std::string& prefix = it->first;
    if (key.compare(0, prefix.size(), prefix) == 0 &&
        (key.size() == prefix.size() || key[prefix.size()] == '\\')) {
      return SharePath::parse(it->second + unc.substr(prefix.size()));
    }
  }
  return path;
}

// [MS-DFSC] 3.1.4.2, over IPC$ ([MS-SMB2] 3.2.4.20.3): which target serves
// the path. The path asked about goes "\server\share\rest".
void Client::followReferral(const SharePath& path, Deadline deadline) {
  const SharePath ipc{path.server, "IPC$", ""};
  const Tree& pipe = tree(ipc, deadline);
  const std::string asked = path.unc().substr(1);
  Connection& connection = server(path.server, deadline).session->connection();
  const Response response = std::move(
      connection
          .exchange({Request{SMB2_IOCTL,
                             encodeIoctlRequest(FSCTL_DFS_GET_REFERRALS, kRelatedFileId,
                                                encodeReferralRequest(asked), kOutputLength),
                             pipe.treeId}},
                    false, deadline)
          .front());
  expectSuccess(response, "ask for the DFS referral of " + path.unc());
  const Referral referral = decodeReferralResponse(decodeIoctlResponse(response.reader()).output);
  const Bytes askedUtf16 = toUtf16(asked);
  if (referral.charactersConsumed == 0 || referral.charactersConsumed * 2 > askedUtf16.size()) {
    throw MalformedReply("the DFS referral of " + path.unc() + " consumes more than was asked");
  }
  // The consumed prefix in UTF-8: the characters are counted in UTF-16 units.
  const std::string prefix =
      WireReader(askedUtf16, "the DFS path").utf16(0, referral.charactersConsumed * 2);
  std::string target = referral.targets.front();
  while (!target.empty() && target.back() == '\\') target.pop_back();
  SharePath::parse("\\" + target);  // refuses a target that is no \server\share
  referrals_["\\" + lower(prefix)] = "\\" + target;
}

template <class Operation>
auto Client::throughDfs(const SharePath& path, Deadline deadline, Operation operation) {
  for (int hop = 0;; ++hop) {
    const SharePath actual = resolve(path);
    try {
      return operation(actual);
    } catch (const MalformedReply& error) {
      // A reply not understood leaves its connection in doubt (an open
      // handle whose FileId could not be read, say).
      closeConnection(actual.server, error.what());
      throw;
    } catch (const StatusError& error) {
      if (error.status() != STATUS_PATH_NOT_COVERED || hop >= kMaxReferralHops) throw;
      followReferral(actual, deadline);
    }
  }
}

void Client::createFolder(const SharePath& folder,
                          const std::optional<SecurityDescriptor>& descriptor, Deadline deadline,
                          const std::function<Deadline()>& answerBy) {
  throughDfs(folder, deadline, [&](const SharePath& path) {
    const Tree& share = tree(path, deadline);
    CreateRequest create;
    create.desiredAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    create.fileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    create.createDisposition = FILE_CREATE;
    create.createOptions = FILE_DIRECTORY_FILE;
    if (descriptor) {
      create.contexts.push_back(
          CreateContext{std::string(SMB2_CREATE_SD_BUFFER), encodeSecurityDescriptor(*descriptor)});
    }
    Connection& connection = server(path.server, deadline).session->connection();
    const Ticket ticket =
        connection.submit({createRequest(share, path, create),
                           related(SMB2_CLOSE, encodeCloseRequest(kRelatedFileId), share)},
                          true, deadline);
    const std::vector<Response> responses =
        connection.await(ticket, answerBy ? answerBy() : deadline);
    expectSuccess(responses[0], "create " + path.unc());
    decodeCreateResponse(responses[0].reader());
  });
}

ObjectInfo Client::setSecurity(const SharePath& target, const SecurityDescriptor& descriptor,
                               Deadline deadline) {
  return throughDfs(target, deadline, [&](const SharePath& path) {
    const Tree& share = tree(path, deadline);
    CreateRequest open;
    open.desiredAccess = FILE_READ_ATTRIBUTES | WRITE_DAC | (descriptor.owner ? WRITE_OWNER : 0);
    const Bytes encoded = encodeSecurityDescriptor(descriptor);
    Connection& connection = server(path.server, deadline).session->connection();
    const std::vector<Response> responses = connection.exchange(
        compound(
            createRequest(share, path, open), identityQueries(share),
            {related(SMB2_SET_INFO,
                     encodeSetInfoRequest(SMB2_0_INFO_SECURITY, 0, securityInformation(descriptor),
                                          kRelatedFileId, encoded),
                     share),
             related(SMB2_CLOSE, encodeCloseRequest(kRelatedFileId), share)}),
        true, deadline);
    expectSuccess(responses[0], "open " + path.unc());
    decodeCreateResponse(responses[0].reader());
    const ObjectInfo info = objectInfo(responses[1], responses[2]);
    expectSuccess(responses[3], "set the access list of " + path.unc());
    decodeSetInfoResponse(responses[3].reader());
    return info;
  });
}

std::vector<SecurityOutcome> Client::setSecurityChecked(const std::vector<SecurityTarget>& targets,
                                                        Deadline deadline,
                                                        const ListingCheck& accept) {
  struct Flight {
    SharePath path;
    const Tree* share = nullptr;
    Connection* connection = nullptr;
    Ticket ticket;
    std::optional<PendingListing> listing;
  };
  std::vector<SecurityOutcome> outcomes(targets.size());
  std::vector<Flight> flights(targets.size());
  // First flight: every object opened, what identifies it read on its
  // handle; and the folders to be looked into before they are set listed.
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const SecurityTarget& target = targets[i];
    try {
      Flight& flight = flights[i];
      flight.path = resolve(target.path);
      flight.share = &tree(flight.path, deadline);
      flight.connection = &server(flight.path.server, deadline).session->connection();
      const std::uint8_t infoClass = listingClass(flight.path.server, deadline);
      CreateRequest open;
      open.desiredAccess =
          FILE_READ_ATTRIBUTES | WRITE_DAC | (target.descriptor->owner ? WRITE_OWNER : 0);
      flight.ticket = flight.connection->submit(
          compound(createRequest(*flight.share, flight.path, open), identityQueries(*flight.share)),
          true, deadline);
      if (target.listFirst) flight.listing = submitListing(flight.path, infoClass, deadline);
    } catch (const StatusError&) {
      outcomes[i].error = std::current_exception();
    }
  }
  // Second flight, once every answer of the first is in: set and close
  // what is what the caller listed, and a folder only once the caller has
  // taken its listing; close the rest.
  struct Send {
    std::size_t target;
    std::vector<Request> requests;
    bool awaited;  // a set; closes alone are not waited for
  };
  std::vector<Send> sends;
  const auto close = [&](std::size_t i, FileId handle) {
    sends.push_back(
        {i, {Request{SMB2_CLOSE, encodeCloseRequest(handle), flights[i].share->treeId}}, false});
  };
  for (std::size_t i = 0; i < targets.size(); ++i) {
    Flight& flight = flights[i];
    if (flight.ticket.messageIds.empty()) continue;
    SecurityOutcome& outcome = outcomes[i];
    try {
      const std::vector<Response> responses = flight.connection->await(flight.ticket, deadline);
      std::exception_ptr unlisted;
      if (flight.listing) {
        Send listingCloses{i, {}, false};
        try {
          try {
            outcome.listing = finishListing(*flight.listing, deadline, &listingCloses.requests);
          } catch (const StatusError& error) {
            if (flight.listing->infoClass != FileIdExtdDirectoryInformation ||
                !extdRefusal(error.status())) {
              throw;
            }
            // A server without that class: listed once more alone, as every
            // later listing goes.
            outcome.listing = list(targets[i].path, deadline);
          }
        } catch (const StatusError&) {
          unlisted = std::current_exception();
        }
        if (!listingCloses.requests.empty()) sends.push_back(std::move(listingCloses));
      }
      const std::string unc = flight.path.unc();
      const std::uint32_t status = responses[0].header.status;
      // A folder that lies elsewhere than its name says is left as it is.
      const bool declined = outcome.listing && (!accept || !accept(i, *outcome.listing));
      if (status != STATUS_SUCCESS) {
        if (declined) continue;
        if (unlisted) {
          outcome.error = unlisted;
        } else if (status == STATUS_PATH_NOT_COVERED && knownId(targets[i].expectedFileId)) {
          // A DFS link below a listed folder leads to another share.
          outcome.error = std::make_exception_ptr(
              ObjectChanged(unc + ": a DFS link; not followed, left unchanged"));
        } else if (status == STATUS_PATH_NOT_COVERED && !flight.listing) {
          // The object itself named through DFS: set alone, through DFS.
          try {
            outcome.object = setSecurity(targets[i].path, *targets[i].descriptor, deadline);
            outcome.set = true;
          } catch (const StatusError&) {
            outcome.error = std::current_exception();
          }
        } else {
          outcome.error = std::make_exception_ptr(StatusError("open " + unc, status));
        }
        continue;
      }
      const FileId handle = decodeCreateResponse(responses[0].reader()).fileId;
      try {
        if (unlisted) std::rethrow_exception(unlisted);
        expectAll(responses, "read what identifies " + unc);
        const ObjectInfo info = objectInfo(responses[1], responses[2]);
        outcome.object = info;
        // A reparse point without its tag is taken for a link, to be safe.
        if (info.isReparsePoint() && (info.reparseTag == 0 || isNameSurrogate(info.reparseTag))) {
          throw ObjectChanged(unc + ": a junction or link (reparse tag 0x" +
                              toHex(Bytes{static_cast<std::uint8_t>(info.reparseTag >> 24),
                                          static_cast<std::uint8_t>(info.reparseTag >> 16),
                                          static_cast<std::uint8_t>(info.reparseTag >> 8),
                                          static_cast<std::uint8_t>(info.reparseTag)}) +
                              "); left unchanged");
        }
        if (knownId(targets[i].expectedFileId) && knownId(info.fileId) &&
            info.fileId != targets[i].expectedFileId) {
          throw ObjectChanged(
              unc + ": replaced since its folder was listed (another file ID); left unchanged");
        }
        if (declined) {
          close(i, handle);
          continue;
        }
        sends.push_back(
            {i,
             {Request{SMB2_SET_INFO,
                      encodeSetInfoRequest(SMB2_0_INFO_SECURITY, 0,
                                           securityInformation(*targets[i].descriptor), handle,
                                           encodeSecurityDescriptor(*targets[i].descriptor)),
                      flight.share->treeId},
              Request{SMB2_CLOSE, encodeCloseRequest(handle), flight.share->treeId}},
             true});
      } catch (const MalformedReply&) {
        throw;
      } catch (const std::exception&) {
        outcome.error = std::current_exception();
        close(i, handle);
      }
    } catch (const MalformedReply& error) {
      flight.connection->close(error.what());
      throw;
    }
  }
  std::vector<std::pair<std::size_t, Ticket>> second;
  for (const Send& send : sends) {
    Connection& connection = *flights[send.target].connection;
    const Ticket ticket = connection.submit(send.requests, false, deadline);
    if (send.awaited) {
      second.emplace_back(send.target, ticket);
    } else {
      connection.discardReplies(ticket);
    }
  }
  for (auto& [i, ticket] : second) {
    const std::vector<Response> responses = flights[i].connection->await(ticket, deadline);
    if (responses[0].header.status != STATUS_SUCCESS) {
      outcomes[i].error = std::make_exception_ptr(StatusError(
          "set the access list of " + flights[i].path.unc(), responses[0].header.status));
    } else {
      outcomes[i].set = true;
    }
  }
  return outcomes;
}

// [MS-FSCC] 2.4.20 where the server has it: the reparse tag in a field of
// its own; else 2.4.18, whose EaSize carries it.
std::uint8_t Client::listingClass(const std::string& name, Deadline deadline) {
  const Server& state = server(name, deadline);
  return !state.extdRefused && isSmb3(state.session->info().dialect)
             ? FileIdExtdDirectoryInformation
             : FileIdBothDirectoryInformation;
}

Client::PendingListing Client::submitListing(const SharePath& path, std::uint8_t infoClass,
                                             Deadline deadline) {
  PendingListing pending{path, &tree(path, deadline), nullptr, infoClass, {}};
  pending.connection = &server(path.server, deadline).session->connection();
  CreateRequest open;
  open.desiredAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  open.createOptions = FILE_DIRECTORY_FILE;
  const Tree& share = *pending.share;
  // The open, the first listing and the question whether there is more: a
  // folder that fits one answer costs one round trip.
  pending.ticket = pending.connection->submit(
      {createRequest(share, path, open),
       related(SMB2_QUERY_DIRECTORY,
               encodeQueryDirectoryRequest(infoClass, SMB2_RESTART_SCANS, kRelatedFileId, "*",
                                           kOutputLength),
               share),
       related(SMB2_QUERY_DIRECTORY,
               encodeQueryDirectoryRequest(infoClass, 0, kRelatedFileId, "*", kOutputLength),
               share)},
      true, deadline);
  return pending;
}

Listing Client::finishListing(const PendingListing& pending, Deadline deadline,
                              std::vector<Request>* closes) {
  const SharePath& path = pending.path;
  const Tree& share = *pending.share;
  Connection& connection = *pending.connection;
  const std::uint8_t infoClass = pending.infoClass;
  std::vector<Response> responses = connection.await(pending.ticket, deadline);
  expectSuccess(responses[0], "list " + path.unc());
  const CreateResponse opened = decodeCreateResponse(responses[0].reader());
  Listing listing;
  listing.attributes = opened.fileAttributes;
  auto closeHandle = [&] {
    Request close{SMB2_CLOSE, encodeCloseRequest(opened.fileId), share.treeId};
    if (closes) {
      closes->push_back(std::move(close));
    } else {
      connection.discardReplies(connection.submit({close}, false, deadline));
    }
  };
  auto take = [&](const Response& response) {
    // [MS-SMB2] 3.3.5.18: STATUS_NO_MORE_FILES ends the listing.
    if (response.header.status == STATUS_NO_MORE_FILES) return false;
    expectSuccess(response, "list " + path.unc());
    for (DirectoryEntry& entry :
         decodeDirectoryInformation(infoClass, decodeQueryDirectoryResponse(response.reader()))) {
      if (entry.name == ".") {
        listing.id = entry.fileId;
        listing.reparseTag = entry.reparseTag;
      } else if (entry.name == "..") {
        listing.parentId = entry.fileId;
      } else {
        listing.entries.push_back(std::move(entry));
      }
    }
    return true;
  };
  try {
    bool more = take(responses[1]) && take(responses[2]);
    while (more) {
      more = take(connection
                      .exchange({Request{SMB2_QUERY_DIRECTORY,
                                         encodeQueryDirectoryRequest(infoClass, 0, opened.fileId,
                                                                     "*", kOutputLength),
                                         share.treeId}},
                                false, deadline)
                      .front());
    }
  } catch (const StatusError&) {
    closeHandle();
    throw;
  }
  closeHandle();
  return listing;
}

Listing Client::list(const SharePath& folder, Deadline deadline) {
  return throughDfs(folder, deadline, [&](const SharePath& path) {
    const std::uint8_t infoClass = listingClass(path.server, deadline);
    try {
      return finishListing(submitListing(path, infoClass, deadline), deadline);
    } catch (const StatusError& error) {
      if (infoClass != FileIdExtdDirectoryInformation || !extdRefusal(error.status())) throw;
      server(path.server, deadline).extdRefused = true;
    }
    return finishListing(submitListing(path, FileIdBothDirectoryInformation, deadline), deadline);
  });
}

SecurityDescriptor Client::readSecurity(const SharePath& target, Deadline deadline) {
  return throughDfs(target, deadline, [&](const SharePath& path) {
    const Tree& share = tree(path, deadline);
    CreateRequest open;
    open.desiredAccess = READ_CONTROL;
    Connection& connection = server(path.server, deadline).session->connection();
    const std::vector<Response> responses = connection.exchange(
        {createRequest(share, path, open),
         related(SMB2_QUERY_INFO,
                 encodeQueryInfoRequest(SMB2_0_INFO_SECURITY, 0, kOutputLength,
                                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                            DACL_SECURITY_INFORMATION,
                                        kRelatedFileId),
                 share),
         related(SMB2_CLOSE, encodeCloseRequest(kRelatedFileId), share)},
        true, deadline);
    expectSuccess(responses[0], "open " + path.unc());
    expectSuccess(responses[1], "read the access list of " + path.unc());
    return decodeSecurityDescriptor(decodeQueryInfoResponse(responses[1].reader()),
                                    "the security descriptor of " + path.unc());
  });
}

std::optional<ObjectInfo> Client::stat(const SharePath& target, Deadline deadline) {
  return throughDfs(target, deadline, [&](const SharePath& path) -> std::optional<ObjectInfo> {
    const Tree& share = tree(path, deadline);
    CreateRequest open;
    open.desiredAccess = FILE_READ_ATTRIBUTES;
    Connection& connection = server(path.server, deadline).session->connection();
    const std::vector<Response> responses = connection.exchange(
        compound(createRequest(share, path, open), identityQueries(share),
                 {related(SMB2_CLOSE, encodeCloseRequest(kRelatedFileId), share)}),
        true, deadline);
    if (responses[0].header.status == STATUS_OBJECT_NAME_NOT_FOUND) return std::nullopt;
    expectAll(std::vector<Response>(responses.begin(), responses.begin() + 3),
              "look at " + path.unc());
    return objectInfo(responses[1], responses[2]);
  });
}

}  // namespace kestrine::smb
