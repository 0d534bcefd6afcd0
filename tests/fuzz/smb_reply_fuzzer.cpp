// libFuzzer target: everything the SMB2/3 client reads from a server. The
// first byte picks the way in, the rest is the reply: through a connection
// (header, compound, matching) with each response decoder after it, through
// the TRANSFORM_HEADER and decryption, or straight into the security
// descriptor, directory information and DFS referral decoders.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "platform/linux/smb/connection.h"
#include "platform/linux/smb/dfs.h"
#include "platform/linux/smb/file_information.h"
#include "platform/linux/smb/message_security.h"
#include "platform/linux/smb/messages.h"
#include "platform/linux/smb/ntstatus.h"
#include "platform/linux/smb/security_descriptor.h"

namespace kestrine::smb {
namespace {

class ReplayTransport : public Transport {
 public:
  explicit ReplayTransport(ByteView reply) : reply_(reply.begin(), reply.end()) {}
  void send(std::span<const std::uint8_t>, Deadline) override {}
  std::vector<std::uint8_t> receive(Deadline) override {
    if (done_) throw TransportError(TransportFailure::kTimedOut, "no more");
    done_ = true;
    return reply_;
  }
  void shutdown() override { done_ = true; }

 private:
  Bytes reply_;
  bool done_ = false;
};

void decodeBody(const Response& response) {
  const WireReader reader = response.reader();
  switch (response.header.command) {
    case SMB2_NEGOTIATE:
      decodeNegotiateResponse(reader);
      break;
    case SMB2_SESSION_SETUP:
      decodeSessionSetupResponse(reader);
      break;
    case SMB2_TREE_CONNECT:
      decodeTreeConnectResponse(reader);
      break;
    case SMB2_CREATE:
      decodeCreateResponse(reader);
      break;
    case SMB2_CLOSE:
      decodeCloseResponse(reader);
      break;
    case SMB2_SET_INFO:
      decodeSetInfoResponse(reader);
      break;
    case SMB2_QUERY_DIRECTORY: {
      const ByteView output = decodeQueryDirectoryResponse(reader);
      for (const std::uint8_t infoClass :
           {FileIdBothDirectoryInformation, FileIdFullDirectoryInformation,
            FileIdExtdDirectoryInformation}) {
        try {
          decodeDirectoryInformation(infoClass, output);
        } catch (const MalformedReply&) {
        }
      }
      break;
    }
    case SMB2_QUERY_INFO: {
      const ByteView output = decodeQueryInfoResponse(reader);
      try {
        decodeSecurityDescriptor(output);
      } catch (const MalformedReply&) {
      }
      try {
        decodeFileAttributeTagInformation(output);
      } catch (const MalformedReply&) {
      }
      decodeFileInternalInformation(output);
      break;
    }
    case SMB2_IOCTL: {
      const IoctlResponse ioctl = decodeIoctlResponse(reader);
      try {
        decodeValidateNegotiateInfo(WireReader(ioctl.output, "validate"));
      } catch (const MalformedReply&) {
      }
      decodeReferralResponse(ioctl.output);
      break;
    }
    default:
      break;
  }
}

// One request of the reply's own command in flight (MessageId 0, or 0 and 1
// for a compound), so that a well-formed reply gets past the matching.
void throughConnection(ByteView reply, MessageSecurity* security) {
  Connection connection(std::make_unique<ReplayTransport>(reply));
  const std::uint16_t command =
      reply.size() >= 14 ? static_cast<std::uint16_t>(reply[12] | reply[13] << 8) : 0;
  if (security) {
    connection.setSessionId(1);
    connection.secure(std::make_unique<MessageSecurity>(kDialect311, AES_CMAC, AES_128_GCM,
                                                        Bytes(16, 1), Bytes(64, 2)),
                      security->canSeal());
  }
  const Ticket ticket = connection.submit({Request{command, {}}, Request{command, {}}}, false,
                                          Clock::now() + std::chrono::seconds(1));
  for (const Response& response :
       connection.await(ticket, Clock::now() + std::chrono::seconds(1))) {
    try {
      decodeBody(response);
    } catch (const MalformedReply&) {
    }
  }
}

}  // namespace
}  // namespace kestrine::smb

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrine::smb;
  if (size < 1) return 0;
  const ByteView input(data + 1, size - 1);
  static MessageSecurity sealed(kDialect311, AES_CMAC, AES_128_GCM, Bytes(16, 1), Bytes(64, 2));
  try {
    switch (data[0] % 6) {
      case 0:
        throughConnection(input, nullptr);
        break;
      case 1:
        throughConnection(input, &sealed);
        break;
      case 2:
        sealed.unseal(input, 1);
        break;
      case 3:
        decodeSecurityDescriptor(input);
        break;
      case 4:
        decodeDirectoryInformation(input.empty() || input[0] % 3 == 0
                                       ? FileIdBothDirectoryInformation
                                   : input[0] % 3 == 1 ? FileIdFullDirectoryInformation
                                                       : FileIdExtdDirectoryInformation,
                                   input);
        break;
      case 5:
        decodeReferralResponse(input);
        break;
    }
  } catch (const MalformedReply&) {
  } catch (const ReplyRefused&) {
  } catch (const TransportError&) {
  } catch (const StatusError&) {
  }
  return 0;
}
