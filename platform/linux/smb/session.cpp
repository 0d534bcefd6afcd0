#include "platform/linux/smb/session.h"

#include <algorithm>

#include "platform/linux/smb/crypto.h"
#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb {
namespace {

// Signing is always asked for ([MS-SMB2] 2.2.3 SecurityMode).
constexpr std::uint16_t kSecurityMode =
    SMB2_NEGOTIATE_SIGNING_ENABLED | SMB2_NEGOTIATE_SIGNING_REQUIRED;

bool offered(const std::vector<std::uint16_t>& list, std::uint16_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// The one response of a request sent alone.
Response single(Connection& connection, Request request, Deadline deadline) {
  return std::move(connection.exchange({std::move(request)}, false, deadline).front());
}

}  // namespace

Session::Session(std::unique_ptr<Transport> transport, std::string server)
    : connection_(std::move(transport)), server_(std::move(server)) {}

std::unique_ptr<Session> Session::open(std::unique_ptr<Transport> transport,
                                       SecurityContext& context, const std::string& server,
                                       Deadline deadline,
                                       const std::vector<std::uint16_t>& dialects) {
  std::unique_ptr<Session> session(new Session(std::move(transport), server));
  session->negotiate(dialects, deadline);
  session->signIn(context, deadline);
  return session;
}

// [MS-SMB2] 3.2.4.2.2.2 and 3.2.5.2.
void Session::negotiate(const std::vector<std::uint16_t>& dialects, Deadline deadline) {
  NegotiateRequest request;
  request.dialects = dialects;
  request.securityMode = kSecurityMode;
  // SMB2_GLOBAL_CAP_ENCRYPTION for 3.0 and 3.0.2 ([MS-SMB2] 3.2.4.2.2.2).
  request.capabilities = SMB2_GLOBAL_CAP_DFS | SMB2_GLOBAL_CAP_ENCRYPTION;
  randomBytes(request.clientGuid);
  randomBytes(request.salt);
  request.ciphers = {AES_128_GCM, AES_128_CCM, AES_256_GCM, AES_256_CCM};
  request.signingAlgorithms = {AES_GMAC, AES_CMAC};
  offered_ = dialects;
  clientGuid_ = request.clientGuid;
  clientCapabilities_ = request.capabilities;

  const Ticket ticket = connection_.submit(
      {Request{SMB2_NEGOTIATE, encodeNegotiateRequest(request)}}, false, deadline);
  Response response = std::move(connection_.await(ticket, deadline).front());
  if (response.header.status != STATUS_SUCCESS) {
    throw StatusError("negotiate with " + server_, response.header.status);
  }
  const NegotiateResponse negotiated = decodeNegotiateResponse(response.reader());
  auto refuse = [this](const std::string& why) {
    connection_.close(why);
    throw ReplyRefused("negotiate with " + server_ + ": " + why);
  };
  if (!offered(dialects, negotiated.dialect)) {
    refuse("the server chose dialect " + dialectName(negotiated.dialect) +
           ", which was not offered");
  }
  info_.dialect = negotiated.dialect;
  serverGuid_ = negotiated.serverGuid;
  serverSecurityMode_ = negotiated.securityMode;
  serverCapabilities_ = negotiated.capabilities;
  connection_.setDialect(negotiated.dialect);

  if (negotiated.dialect == kDialect311) {
    // [MS-SMB2] 3.2.5.2: SHA-512 is the one hash; the cipher and signing
    // algorithm must be ones offered.
    if (negotiated.hashAlgorithm != kHashSha512) refuse("no SHA-512 pre-authentication integrity");
    if (negotiated.cipher && *negotiated.cipher != 0) {
      if (!offered(request.ciphers, *negotiated.cipher)) refuse("a cipher that was not offered");
      info_.cipher = *negotiated.cipher;
    }
    info_.signingAlgorithm = negotiated.signingAlgorithm.value_or(AES_CMAC);
    if (!offered(request.signingAlgorithms, info_.signingAlgorithm)) {
      refuse("a signing algorithm that was not offered");
    }
    // [MS-SMB2] 3.2.5.2: the hash over the NEGOTIATE request and response.
    preauthHash_ = sha512(std::array<std::uint8_t, 64>{}, ticket.sent);
    preauthHash_ = sha512(preauthHash_, response.message);
  } else if (isSmb3(negotiated.dialect)) {
    info_.signingAlgorithm = AES_CMAC;
    if (negotiated.capabilities & SMB2_GLOBAL_CAP_ENCRYPTION) info_.cipher = AES_128_CCM;
  } else {
    info_.signingAlgorithm = HMAC_SHA256;
  }
}

// [MS-SMB2] 3.2.4.2.3 and 3.2.5.3: SESSION_SETUP until the server says
// STATUS_SUCCESS, its last token completing the context.
void Session::signIn(SecurityContext& context, Deadline deadline) {
  const std::string doing = "sign in to " + server_;
  std::array<std::uint8_t, 64> hash = preauthHash_;
  const bool preauth = info_.dialect == kDialect311;
  Bytes token = context.step({}, deadline);
  for (;;) {
    if (token.empty())
      throw SignInError(SignInFailure::kRefused, doing + ": the sign-in had nothing to send");
    const Ticket ticket = connection_.submit(
        {Request{SMB2_SESSION_SETUP,
                 encodeSessionSetupRequest(static_cast<std::uint8_t>(kSecurityMode), token)}},
        false, deadline);
    if (preauth) hash = sha512(hash, ticket.sent);
    Response response = std::move(connection_.await(ticket, deadline).front());
    const std::uint32_t status = response.header.status;
    if (status != STATUS_SUCCESS && status != STATUS_MORE_PROCESSING_REQUIRED) {
      throw StatusError(doing, status);
    }
    const SessionSetupResponse setup = decodeSessionSetupResponse(response.reader());
    if (connection_.sessionId() == 0) {
      connection_.setSessionId(response.header.sessionId);
    } else if (response.header.sessionId != connection_.sessionId()) {
      const std::string why = "a SESSION_SETUP reply to another session";
      connection_.close(why);
      throw ReplyRefused(doing + ": " + why);
    }
    if (status == STATUS_MORE_PROCESSING_REQUIRED) {
      if (preauth) hash = sha512(hash, response.message);
      token = context.step(setup.token, deadline);
      continue;
    }

    // STATUS_SUCCESS. The server's last token completes mutual authentication.
    if (setup.sessionFlags & (SMB2_SESSION_FLAG_IS_GUEST | SMB2_SESSION_FLAG_IS_NULL)) {
      connection_.close("a guest or anonymous session");
      throw SignInError(
          SignInFailure::kRefused,
          doing + ": the server made it a guest or anonymous session, which is refused");
    }
    if (!setup.token.empty() || !context.complete()) {
      const Bytes more = context.step(setup.token, deadline);
      if (!more.empty()) {
        throw SignInError(SignInFailure::kRefused,
                          doing + ": the sign-in went on after the server accepted it");
      }
    }
    if (!context.complete()) {
      throw SignInError(SignInFailure::kRefused,
                        doing + ": the server did not prove who it is (no mutual authentication)");
    }
    const Bytes key = context.sessionKey();
    auto security = std::make_unique<MessageSecurity>(info_.dialect, info_.signingAlgorithm,
                                                      info_.cipher, key, hash);
    // [MS-SMB2] 3.2.5.3.1: the final reply is checked with the new keys;
    // 3.1.1 always signs it.
    const bool signedReply = (response.header.flags & SMB2_FLAGS_SIGNED) != 0;
    if ((signedReply || preauth) && !security->verify(response.message)) {
      connection_.close("a final SESSION_SETUP reply whose signature is missing or wrong");
      throw ReplyRefused(doing +
                         ": the server's final reply is not signed with the session's key "
                         "(altered on the way?)");
    }
    info_.sessionFlags = setup.sessionFlags;
    // Sealed whenever the dialect and the server allow it: a session the
    // server marks SMB2_SESSION_FLAG_ENCRYPT_DATA needs it anyway.
    if ((setup.sessionFlags & SMB2_SESSION_FLAG_ENCRYPT_DATA) && !security->canSeal()) {
      throw ReplyRefused(doing + ": the server requires encryption without a cipher in common");
    }
    connection_.secure(std::move(security), true);
    return;
  }
}

Tree Session::connectTree(const std::string& share, Deadline deadline) {
  const Response response =
      single(connection_, Request{SMB2_TREE_CONNECT, encodeTreeConnectRequest(share)}, deadline);
  if (response.header.status != STATUS_SUCCESS) {
    throw StatusError("connect to " + share, response.header.status);
  }
  const TreeConnectResponse connected = decodeTreeConnectResponse(response.reader());
  Tree tree;
  tree.treeId = response.header.treeId;
  tree.path = share;
  tree.shareFlags = connected.shareFlags;
  tree.capabilities = connected.capabilities;
  if ((connected.shareFlags & SMB2_SHAREFLAG_ENCRYPT_DATA) && !connection_.sealing()) {
    throw ReplyRefused("connect to " + share +
                       ": the share requires encryption, which this session cannot do");
  }
  if (!validated_ && (info_.dialect == kDialect300 || info_.dialect == kDialect302)) {
    validateNegotiate(tree, deadline);
  }
  validated_ = true;
  return tree;
}

// [MS-SMB2] 3.2.5.14.12: the server confirms, signed, what it negotiated, so
// that no one on the way has talked the connection down.
void Session::validateNegotiate(const Tree& tree, Deadline deadline) {
  Request request{SMB2_IOCTL,
                  encodeIoctlRequest(FSCTL_VALIDATE_NEGOTIATE_INFO, kRelatedFileId,
                                     encodeValidateNegotiateInfo(clientCapabilities_, clientGuid_,
                                                                 kSecurityMode, offered_),
                                     24),
                  tree.treeId};
  const Response response = single(connection_, std::move(request), deadline);
  auto refuse = [this](const std::string& why) {
    connection_.close(why);
    throw ReplyRefused("validate the negotiation with " + server_ + ": " + why);
  };
  if (response.header.status == STATUS_ACCESS_DENIED) refuse("the server refused it");
  if (response.header.status != STATUS_SUCCESS) return;  // servers that do not implement it
  const IoctlResponse ioctl = decodeIoctlResponse(response.reader());
  const ValidateNegotiateInfo info =
      decodeValidateNegotiateInfo(WireReader(ioctl.output, "the VALIDATE_NEGOTIATE_INFO answer"));
  if (info.capabilities != serverCapabilities_ || info.guid != serverGuid_ ||
      info.securityMode != serverSecurityMode_ || info.dialect != info_.dialect) {
    refuse("what the server confirms is not what it negotiated");
  }
}

}  // namespace kestrine::smb
