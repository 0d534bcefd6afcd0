#include "platform/linux/smb/connection.h"

#include <algorithm>

#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb {
namespace {

// Credits asked for beyond a request's own charge, so that a folder's
// requests can be in flight together ([MS-SMB2] 3.2.4.1.2), up to what a
// batch of the walk needs at once (a thousand entries, up to six requests
// each); Samba grants at most 8192 unless told otherwise, and a server that
// grants fewer makes the requests wait for its answers.
constexpr std::uint16_t kExtraCredits = 32;
constexpr std::uint32_t kCreditTarget = 8192;

}  // namespace

Connection::Connection(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {}

Connection::~Connection() = default;

void Connection::secure(std::unique_ptr<MessageSecurity> security, bool seal) {
  security_ = std::move(security);
  seal_ = seal && security_ && security_->canSeal();
}

void Connection::close(const std::string& reason) {
  if (broken_) return;
  broken_ = true;
  brokenReason_ = reason;
  transport_->shutdown();
}

void Connection::throwIfBroken() const {
  if (broken_) {
    throw TransportError(TransportFailure::kLost,
                         "the connection to the file server was closed: " + brokenReason_);
  }
}

Ticket Connection::submit(const std::vector<Request>& requests, bool related, Deadline deadline) {
  throwIfBroken();
  if (requests.empty()) throw std::invalid_argument("an empty compound");
  std::uint32_t charge = 0;
  for (const Request& request : requests)
    charge += std::max<std::uint16_t>(request.creditCharge, 1);
  // [MS-SMB2] 3.2.4.1.5: no more in flight than the server has granted.
  while (credits_ < charge) {
    const bool waiting = std::any_of(pending_.begin(), pending_.end(),
                                     [](const auto& entry) { return !entry.second.final; });

    if (!waiting) {
      close("the server granted too few credits for a request");
      throwIfBroken();
    }
    receiveOne(deadline);
  }

  // [MS-SMB2] 3.2.4.1.4: each message of a compound starts 8-byte aligned;
  // NextCommand is the offset of the next; each is signed on its own, its
  // padding included.
  Ticket ticket;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  WireWriter chain;
  std::uint32_t outstanding = credits_;
  for (const auto& entry : pending_) outstanding += entry.second.final ? 0 : 1;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& request = requests[i];
    const std::uint16_t own = std::max<std::uint16_t>(request.creditCharge, 1);
    Header header;
    header.creditCharge = dialect_ == kDialect202 ? 0 : own;
    header.command = request.command;
    header.credits =
        static_cast<std::uint16_t>(own + (outstanding < kCreditTarget ? kExtraCredits : 0));
    header.flags = (related && i > 0 ? SMB2_FLAGS_RELATED_OPERATIONS : 0) |
                   (request.dfs ? SMB2_FLAGS_DFS_OPERATIONS : 0);
    header.messageId = nextMessageId_;
    header.treeId = request.treeId;
    header.sessionId = sessionId_;
    nextMessageId_ += own;
    const std::size_t start = chain.size();
    encodeHeader(chain, header);
    chain.bytes(request.body);
    if (i + 1 < requests.size()) {
      chain.align(8);
      chain.patchU32(start + 20, static_cast<std::uint32_t>(chain.size() - start));
    }
    spans.emplace_back(start, chain.size() - start);
    ticket.messageIds.push_back(header.messageId);
  }
  ticket.sent = chain.take();
  const bool sign = security_ && !seal_;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    // [MS-SMB2] 3.2.4.1.1: a SESSION_SETUP is signed only to bind a channel.
    if (sign && requests[i].command != SMB2_SESSION_SETUP) {
      security_->sign(
          std::span<std::uint8_t>(ticket.sent).subspan(spans[i].first, spans[i].second));
    }
    pending_[ticket.messageIds[i]] =
        Pending{requests[i].command, security_ != nullptr, false, std::nullopt};
  }
  credits_ -= charge;
  try {
    if (seal_) {
      transport_->send(security_->seal(ticket.sent, sessionId_), deadline);
    } else {
      transport_->send(ticket.sent, deadline);
    }
  } catch (const std::exception& error) {
    close(error.what());
    throw;
  }
  return ticket;
}

void Connection::receiveOne(Deadline deadline) {
  throwIfBroken();
  try {
    const Bytes raw = transport_->receive(deadline);
    if (startsWithTransformHeader(raw)) {
      if (!security_) throw ReplyRefused("an encrypted reply before the sign-in");
      // [MS-SMB2] 3.2.5.1.1.1: decrypted, the messages need no signature.
      accept(security_->unseal(raw, sessionId_), true);
    } else if (startsWithSmb2Header(raw)) {
      accept(raw, false);
    } else if (raw.size() >= 4 && raw[0] == 0xFF && raw[1] == 'S') {
      throw ReplyRefused("the server answered in SMB1, which this client does not speak");
    } else {
      throw MalformedReply("a reply that is no SMB2 message");
    }
  } catch (const std::exception& error) {
    close(error.what());
    throw;
  }
}

// [MS-SMB2] 3.2.5.1: a reply, maybe a compound of several, each checked on
// its own before anything of it is believed.
void Connection::accept(ByteView message, bool sealed) {
  std::size_t offset = 0;
  for (;;) {
    const WireReader rest(message.subspan(offset), "a reply");
    const Header header = decodeHeader(rest);
    std::size_t length = rest.size();
    if (header.nextCommand != 0) {
      if (header.nextCommand < kHeaderSize || header.nextCommand % 8 != 0 ||
          header.nextCommand > rest.size()) {
        rest.fail("NextCommand " + std::to_string(header.nextCommand) +
                  " does not point at a next message inside the reply");
      }
      length = header.nextCommand;
    }
    const ByteView piece = message.subspan(offset, length);
    if (!(header.flags & SMB2_FLAGS_SERVER_TO_REDIR)) rest.fail("a request, not a reply");
    // [MS-SMB2] 3.2.5.1.4: nothing here asks for oplocks or leases, so a
    // break notification (MessageId 0xFFFFFFFFFFFFFFFF) changes nothing.
    if (header.messageId != kUnsolicitedMessageId) {
      const auto found = pending_.find(header.messageId);
      if (found == pending_.end() || found->second.final) {
        rest.fail("a reply to no request in flight (MessageId " + std::to_string(header.messageId) +
                  ")");
      }
      Pending& pending = found->second;
      if (header.command != pending.command) {
        rest.fail(std::string("a ") + commandName(header.command) + " reply to a " +
                  commandName(pending.command) + " request");
      }
      // [MS-SMB2] 3.2.5.1.3: interim replies carry no signature.
      const bool interim =
          (header.flags & SMB2_FLAGS_ASYNC_COMMAND) && header.status == STATUS_PENDING;
      if (pending.checked && !sealed) {
        if (seal_) {
          throw ReplyRefused(std::string("a plain ") + commandName(header.command) +
                             " reply on an encrypted session");
        }
        if (!interim && !security_->verify(piece)) {
          throw ReplyRefused(std::string("a ") + commandName(header.command) + " reply (" +
                             describeStatus(header.status) +
                             ") whose signature is missing or wrong");
        }
      }
      credits_ += header.credits;
      if (!interim && pending.discard) {
        pending_.erase(found);
      } else if (!interim) {
        pending.final = Response{header, Bytes(piece.begin(), piece.end())};
      }
    }
    if (header.nextCommand == 0) break;
    offset += length;
  }
}

void Connection::waitFor(std::uint64_t messageId, Deadline deadline) {
  for (;;) {
    const auto found = pending_.find(messageId);
    if (found == pending_.end()) throw std::logic_error("awaiting a request not in flight");
    if (found->second.final) return;
    receiveOne(deadline);
  }
}

Response Connection::take(std::uint64_t messageId) {
  const auto found = pending_.find(messageId);
  Response response = std::move(*found->second.final);
  pending_.erase(found);
  return response;
}

void Connection::discardReplies(const Ticket& ticket) {
  for (const std::uint64_t id : ticket.messageIds) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) continue;
    if (found->second.final) {
      pending_.erase(found);
    } else {
      found->second.discard = true;
    }
  }
}

std::vector<Response> Connection::await(const Ticket& ticket, Deadline deadline) {
  for (const std::uint64_t id : ticket.messageIds) waitFor(id, deadline);
  std::vector<Response> responses;
  for (const std::uint64_t id : ticket.messageIds) responses.push_back(take(id));
  return responses;
}

}  // namespace kestrine::smb
