#include "platform/linux/smb/messages.h"

#include <algorithm>

namespace kestrine::smb {
namespace {

constexpr std::uint8_t kSmb2ProtocolId[4] = {0xFE, 'S', 'M', 'B'};
constexpr std::uint8_t kTransformProtocolId[4] = {0xFD, 'S', 'M', 'B'};

void writeFileId(WireWriter& out, const FileId& fileId) {
  out.u64(fileId.persistent);
  out.u64(fileId.volatileId);
}

FileId readFileId(const WireReader& in, std::size_t offset) {
  return FileId{in.u64(offset), in.u64(offset + 8)};
}

template <std::size_t N>
std::array<std::uint8_t, N> readArray(const WireReader& in, std::size_t offset) {
  const ByteView raw = in.bytes(offset, N);
  std::array<std::uint8_t, N> out{};
  std::copy(raw.begin(), raw.end(), out.begin());
  return out;
}

// A variable buffer of a response, named by an offset from the header and a
// length: it must lie after the fixed part of the response and inside the
// message. An empty buffer may have any offset.
ByteView responseBuffer(const WireReader& message, std::size_t offset, std::size_t length,
                        std::size_t fixedEnd, const char* field) {
  if (length == 0) return {};
  if (offset < fixedEnd) {
    message.fail(std::string(field) + " starts at " + std::to_string(offset) +
                 ", inside the response's fixed part");
  }
  return message.bytes(offset, length);
}

// A response body of the fixed StructureSize its command has.
void expectBody(const WireReader& message, std::uint16_t structureSize) {
  message.expectStructureSize(kHeaderSize, structureSize);
}

std::size_t align8(std::size_t value) {
  return (value + 7) & ~std::size_t{7};
}

// [MS-SMB2] 2.2.3.1: one negotiate context, padded to 8 bytes after it when
// another follows.
void writeNegotiateContext(WireWriter& body, std::uint16_t type, const Bytes& data) {
  body.u16(type);
  body.u16(static_cast<std::uint16_t>(data.size()));
  body.u32(0);
  body.bytes(data);
}

}  // namespace

const char* commandName(std::uint16_t command) {
  switch (command) {
    case SMB2_NEGOTIATE:
      return "NEGOTIATE";
    case SMB2_SESSION_SETUP:
      return "SESSION_SETUP";
    case SMB2_LOGOFF:
      return "LOGOFF";
    case SMB2_TREE_CONNECT:
      return "TREE_CONNECT";
    case SMB2_TREE_DISCONNECT:
      return "TREE_DISCONNECT";
    case SMB2_CREATE:
      return "CREATE";
    case SMB2_CLOSE:
      return "CLOSE";
    case SMB2_IOCTL:
      return "IOCTL";
    case SMB2_CANCEL:
      return "CANCEL";
    case SMB2_ECHO:
      return "ECHO";
    case SMB2_QUERY_DIRECTORY:
      return "QUERY_DIRECTORY";
    case SMB2_QUERY_INFO:
      return "QUERY_INFO";
    case SMB2_SET_INFO:
      return "SET_INFO";
    case SMB2_OPLOCK_BREAK:
      return "OPLOCK_BREAK";
    default:
      return "an unknown command";
  }
}

std::string dialectName(std::uint16_t dialect) {
  switch (dialect) {
    case kDialect202:
      return "2.0.2";
    case kDialect210:
      return "2.1";
    case kDialect300:
      return "3.0";
    case kDialect302:
      return "3.0.2";
    case kDialect311:
      return "3.1.1";
    default:
      return "0x" + toHex(Bytes{static_cast<std::uint8_t>(dialect >> 8),
                                static_cast<std::uint8_t>(dialect)});
  }
}

bool startsWithSmb2Header(ByteView message) {
  return message.size() >= 4 && std::equal(message.begin(), message.begin() + 4, kSmb2ProtocolId);
}

bool startsWithTransformHeader(ByteView message) {
  return message.size() >= 4 &&
         std::equal(message.begin(), message.begin() + 4, kTransformProtocolId);
}

// [MS-SMB2] 2.2.1.1, 2.2.1.2.
void encodeHeader(WireWriter& out, const Header& header) {
  out.bytes(kSmb2ProtocolId);
  out.u16(64);
  out.u16(header.creditCharge);
  out.u32(header.status);
  out.u16(header.command);
  out.u16(header.credits);
  out.u32(header.flags);
  out.u32(header.nextCommand);
  out.u64(header.messageId);
  if (header.flags & SMB2_FLAGS_ASYNC_COMMAND) {
    out.u64(header.asyncId);
  } else {
    out.u32(0);
    out.u32(header.treeId);
  }
  out.u64(header.sessionId);
  out.bytes(header.signature);
}

Header decodeHeader(const WireReader& message) {
  if (!startsWithSmb2Header(message.bytes(0, 4))) message.fail("no SMB2 header (ProtocolId)");
  message.expectStructureSize(4, 64);
  if (message.size() < kHeaderSize) message.fail("shorter than an SMB2 header");
  Header header;
  header.creditCharge = message.u16(6);
  header.status = message.u32(8);
  header.command = message.u16(12);
  header.credits = message.u16(14);
  header.flags = message.u32(16);
  header.nextCommand = message.u32(20);
  header.messageId = message.u64(24);
  if (header.flags & SMB2_FLAGS_ASYNC_COMMAND) {
    header.asyncId = message.u64(32);
  } else {
    header.treeId = message.u32(36);
  }
  header.sessionId = message.u64(40);
  header.signature = readArray<kSignatureSize>(message, kSignatureOffset);
  return header;
}

// [MS-SMB2] 2.2.3.
Bytes encodeNegotiateRequest(const NegotiateRequest& request) {
  const bool contexts = std::find(request.dialects.begin(), request.dialects.end(), kDialect311) !=
                        request.dialects.end();
  WireWriter body;
  body.u16(36);
  body.u16(static_cast<std::uint16_t>(request.dialects.size()));
  body.u16(request.securityMode);
  body.u16(0);
  body.u32(request.capabilities);
  body.bytes(request.clientGuid);
  const std::size_t contextOffsetAt = body.size();
  body.u64(0);  // NegotiateContextOffset and Count, or ClientStartTime (0)
  for (const std::uint16_t dialect : request.dialects) body.u16(dialect);
  if (!contexts) return body.take();

  std::vector<std::pair<std::uint16_t, Bytes>> list;
  {
    WireWriter data;  // [MS-SMB2] 2.2.3.1.1
    data.u16(1);
    data.u16(static_cast<std::uint16_t>(request.salt.size()));
    data.u16(kHashSha512);
    data.bytes(request.salt);
    list.emplace_back(SMB2_PREAUTH_INTEGRITY_CAPABILITIES, data.take());
  }
  if (!request.ciphers.empty()) {
    WireWriter data;  // [MS-SMB2] 2.2.3.1.2
    data.u16(static_cast<std::uint16_t>(request.ciphers.size()));
    for (const std::uint16_t cipher : request.ciphers) data.u16(cipher);
    list.emplace_back(SMB2_ENCRYPTION_CAPABILITIES, data.take());
  }
  if (!request.signingAlgorithms.empty()) {
    WireWriter data;  // [MS-SMB2] 2.2.3.1.7
    data.u16(static_cast<std::uint16_t>(request.signingAlgorithms.size()));
    for (const std::uint16_t algorithm : request.signingAlgorithms) data.u16(algorithm);
    list.emplace_back(SMB2_SIGNING_CAPABILITIES, data.take());
  }
  // Offsets count from the header, which is 64 bytes, a multiple of 8.
  body.align(8);
  body.patchU32(contextOffsetAt, static_cast<std::uint32_t>(kHeaderSize + body.size()));
  body.patchU16(contextOffsetAt + 4, static_cast<std::uint16_t>(list.size()));
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) body.align(8);
    writeNegotiateContext(body, list[i].first, list[i].second);
  }
  return body.take();
}

// [MS-SMB2] 2.2.4.
NegotiateResponse decodeNegotiateResponse(const WireReader& message) {
  expectBody(message, 65);
  NegotiateResponse response;
  response.securityMode = message.u16(66);
  response.dialect = message.u16(68);
  const std::uint16_t contextCount = message.u16(70);
  response.serverGuid = readArray<16>(message, 72);
  response.capabilities = message.u32(88);
  response.maxTransactSize = message.u32(92);
  response.maxReadSize = message.u32(96);
  response.maxWriteSize = message.u32(100);
  const ByteView token =
      responseBuffer(message, message.u16(120), message.u16(122), 128, "SecurityBuffer");
  response.securityBuffer.assign(token.begin(), token.end());
  if (response.dialect != kDialect311) return response;

  // [MS-SMB2] 2.2.4: 3.1.1 contexts, each 8-byte aligned.
  std::size_t offset = message.u32(124);
  if (contextCount > 0 && offset < 128)
    message.fail("NegotiateContextOffset inside the fixed part");
  for (std::uint16_t i = 0; i < contextCount; ++i) {
    if (offset % 8 != 0) message.fail("a negotiate context that is not 8-byte aligned");
    const std::uint16_t type = message.u16(offset);
    const std::uint16_t length = message.u16(offset + 2);
    const WireReader data =
        message.sub(offset + 8, length, message.what() + " (negotiate context)");
    auto once = [&](std::optional<std::uint16_t>& field, std::uint16_t value) {
      if (field) data.fail("the same negotiate context twice");
      field = value;
    };
    switch (type) {
      case SMB2_PREAUTH_INTEGRITY_CAPABILITIES: {
        // [MS-SMB2] 2.2.4: exactly one hash algorithm in a response.
        if (data.u16(0) != 1) data.fail("HashAlgorithmCount is not 1");
        data.bytes(6, data.u16(2));  // the salt must fit
        once(response.hashAlgorithm, data.u16(4));
        break;
      }
      case SMB2_ENCRYPTION_CAPABILITIES:
        if (data.u16(0) != 1) data.fail("CipherCount is not 1");
        once(response.cipher, data.u16(2));
        break;
      case SMB2_SIGNING_CAPABILITIES:
        if (data.u16(0) != 1) data.fail("SigningAlgorithmCount is not 1");
        once(response.signingAlgorithm, data.u16(2));
        break;
      default:
        break;  // contexts this client did not ask about
    }
    offset = align8(offset + 8 + length);
  }
  return response;
}

// [MS-SMB2] 2.2.5.
Bytes encodeSessionSetupRequest(std::uint8_t securityMode, ByteView token) {
  WireWriter body;
  body.u16(25);
  body.u8(0);  // Flags: no binding
  body.u8(securityMode);
  body.u32(0);  // Capabilities
  body.u32(0);  // Channel
  body.u16(static_cast<std::uint16_t>(kHeaderSize + 24));
  body.u16(static_cast<std::uint16_t>(token.size()));
  body.u64(0);  // PreviousSessionId
  body.bytes(token);
  return body.take();
}

// [MS-SMB2] 2.2.6.
SessionSetupResponse decodeSessionSetupResponse(const WireReader& message) {
  expectBody(message, 9);
  SessionSetupResponse response;
  response.sessionFlags = message.u16(66);
  const ByteView token =
      responseBuffer(message, message.u16(68), message.u16(70), 72, "SecurityBuffer");
  response.token.assign(token.begin(), token.end());
  return response;
}

// [MS-SMB2] 2.2.7, 2.2.11.
Bytes encodeLogoffRequest() {
  return Bytes{4, 0, 0, 0};
}
Bytes encodeTreeDisconnectRequest() {
  return Bytes{4, 0, 0, 0};
}

// [MS-SMB2] 2.2.9.
Bytes encodeTreeConnectRequest(std::string_view path) {
  const Bytes name = toUtf16(path);
  WireWriter body;
  body.u16(9);
  body.u16(0);
  body.u16(static_cast<std::uint16_t>(kHeaderSize + 8));
  body.u16(static_cast<std::uint16_t>(name.size()));
  body.bytes(name);
  return body.take();
}

// [MS-SMB2] 2.2.10.
TreeConnectResponse decodeTreeConnectResponse(const WireReader& message) {
  expectBody(message, 16);
  TreeConnectResponse response;
  response.shareType = message.u8(66);
  response.shareFlags = message.u32(68);
  response.capabilities = message.u32(72);
  response.maximalAccess = message.u32(76);
  return response;
}

// [MS-SMB2] 2.2.13, 2.2.13.2.
Bytes encodeCreateRequest(const CreateRequest& request) {
  const Bytes name = toUtf16(request.name);
  if (name.size() > 0xFFFF) throw std::invalid_argument("a path longer than SMB2 allows");
  WireWriter body;
  body.u16(57);
  body.u8(0);  // SecurityFlags
  body.u8(0);  // RequestedOplockLevel: SMB2_OPLOCK_LEVEL_NONE
  body.u32(kImpersonation);
  body.u64(0);  // SmbCreateFlags
  body.u64(0);  // Reserved
  body.u32(request.desiredAccess);
  body.u32(request.fileAttributes);
  body.u32(request.shareAccess);
  body.u32(request.createDisposition);
  body.u32(request.createOptions);
  body.u16(static_cast<std::uint16_t>(kHeaderSize + 56));
  body.u16(static_cast<std::uint16_t>(name.size()));
  const std::size_t contextsAt = body.size();
  body.u64(0);  // CreateContextsOffset and Length
  body.bytes(name);
  if (request.contexts.empty()) {
    if (name.empty()) body.u8(0);  // the Buffer is never empty
    return body.take();
  }
  body.align(8);
  const std::size_t first = body.size();
  for (std::size_t i = 0; i < request.contexts.size(); ++i) {
    const CreateContext& context = request.contexts[i];
    if (i > 0) body.align(8);
    const std::size_t start = body.size();
    body.u32(0);  // Next, set below
    body.u16(16);
    body.u16(static_cast<std::uint16_t>(context.name.size()));
    body.u16(0);
    const std::size_t dataOffset = align8(16 + context.name.size());
    body.u16(context.data.empty() ? 0 : static_cast<std::uint16_t>(dataOffset));
    body.u32(static_cast<std::uint32_t>(context.data.size()));
    body.bytes(
        ByteView(reinterpret_cast<const std::uint8_t*>(context.name.data()), context.name.size()));
    if (!context.data.empty()) {
      body.align(8);
      body.bytes(context.data);
    }
    if (i + 1 < request.contexts.size()) {
      body.align(8);
      body.patchU32(start, static_cast<std::uint32_t>(body.size() - start));
    }
  }
  body.patchU32(contextsAt, static_cast<std::uint32_t>(kHeaderSize + first));
  body.patchU32(contextsAt + 4, static_cast<std::uint32_t>(body.size() - first));
  return body.take();
}

// [MS-SMB2] 2.2.14, 2.2.13.2.
CreateResponse decodeCreateResponse(const WireReader& message) {
  expectBody(message, 89);
  CreateResponse response;
  response.createAction = message.u32(68);
  response.fileAttributes = message.u32(120);
  response.fileId = readFileId(message, 128);
  const std::uint32_t contextsLength = message.u32(148);
  if (contextsLength == 0) return response;
  const ByteView all =
      responseBuffer(message, message.u32(144), contextsLength, 152, "CreateContexts");
  const WireReader contexts(all, message.what() + " (create context)");
  std::size_t offset = 0;
  for (;;) {
    const std::uint32_t next = contexts.u32(offset);
    const std::uint16_t nameOffset = contexts.u16(offset + 4);
    const std::uint16_t nameLength = contexts.u16(offset + 6);
    const std::uint16_t dataOffset = contexts.u16(offset + 10);
    const std::uint32_t dataLength = contexts.u32(offset + 12);
    const std::size_t length = next != 0 ? next : contexts.size() - offset;
    const WireReader one = contexts.sub(offset, length);
    if (length < 16) one.fail("a create context shorter than its header");
    CreateContext context;
    const ByteView name = one.bytes(nameOffset, nameLength);
    context.name.assign(name.begin(), name.end());
    const ByteView data = dataLength == 0 ? ByteView{} : one.bytes(dataOffset, dataLength);
    context.data.assign(data.begin(), data.end());
    response.contexts.push_back(std::move(context));
    if (next == 0) break;
    if (next % 8 != 0) one.fail("Next is not a multiple of 8");
    offset += next;
  }
  return response;
}

// [MS-SMB2] 2.2.15.
Bytes encodeCloseRequest(const FileId& fileId) {
  WireWriter body;
  body.u16(24);
  body.u16(0);  // Flags
  body.u32(0);
  writeFileId(body, fileId);
  return body.take();
}

// [MS-SMB2] 2.2.16.
void decodeCloseResponse(const WireReader& message) {
  expectBody(message, 60);
}

// [MS-SMB2] 2.2.33.
Bytes encodeQueryDirectoryRequest(std::uint8_t fileInformationClass, std::uint8_t flags,
                                  const FileId& fileId, std::string_view pattern,
                                  std::uint32_t outputBufferLength) {
  const Bytes name = toUtf16(pattern);
  WireWriter body;
  body.u16(33);
  body.u8(fileInformationClass);
  body.u8(flags);
  body.u32(0);  // FileIndex
  writeFileId(body, fileId);
  body.u16(static_cast<std::uint16_t>(kHeaderSize + 32));
  body.u16(static_cast<std::uint16_t>(name.size()));
  body.u32(outputBufferLength);
  body.bytes(name);
  if (name.empty()) body.u8(0);
  return body.take();
}

// [MS-SMB2] 2.2.34.
ByteView decodeQueryDirectoryResponse(const WireReader& message) {
  expectBody(message, 9);
  return responseBuffer(message, message.u16(66), message.u32(68), 72, "OutputBuffer");
}

// [MS-SMB2] 2.2.37.
Bytes encodeQueryInfoRequest(std::uint8_t infoType, std::uint8_t fileInfoClass,
                             std::uint32_t outputBufferLength, std::uint32_t additionalInformation,
                             const FileId& fileId) {
  WireWriter body;
  body.u16(41);
  body.u8(infoType);
  body.u8(fileInfoClass);
  body.u32(outputBufferLength);
  body.u16(0);  // InputBufferOffset
  body.u16(0);
  body.u32(0);  // InputBufferLength
  body.u32(additionalInformation);
  body.u32(0);  // Flags
  writeFileId(body, fileId);
  body.u8(0);  // the Buffer is never empty
  return body.take();
}

// [MS-SMB2] 2.2.38.
ByteView decodeQueryInfoResponse(const WireReader& message) {
  expectBody(message, 9);
  return responseBuffer(message, message.u16(66), message.u32(68), 72, "OutputBuffer");
}

// [MS-SMB2] 2.2.39.
Bytes encodeSetInfoRequest(std::uint8_t infoType, std::uint8_t fileInfoClass,
                           std::uint32_t additionalInformation, const FileId& fileId,
                           ByteView buffer) {
  WireWriter body;
  body.u16(33);
  body.u8(infoType);
  body.u8(fileInfoClass);
  body.u32(static_cast<std::uint32_t>(buffer.size()));
  body.u16(static_cast<std::uint16_t>(kHeaderSize + 32));
  body.u16(0);
  body.u32(additionalInformation);
  writeFileId(body, fileId);
  body.bytes(buffer);
  if (buffer.empty()) body.u8(0);
  return body.take();
}

// [MS-SMB2] 2.2.40.
void decodeSetInfoResponse(const WireReader& message) {
  expectBody(message, 2);
}

// [MS-SMB2] 2.2.31.
Bytes encodeIoctlRequest(std::uint32_t ctlCode, const FileId& fileId, ByteView input,
                         std::uint32_t maxOutputResponse) {
  WireWriter body;
  body.u16(57);
  body.u16(0);
  body.u32(ctlCode);
  writeFileId(body, fileId);
  body.u32(static_cast<std::uint32_t>(kHeaderSize + 56));  // InputOffset
  body.u32(static_cast<std::uint32_t>(input.size()));
  body.u32(0);  // MaxInputResponse
  body.u32(0);  // OutputOffset
  body.u32(0);  // OutputCount
  body.u32(maxOutputResponse);
  body.u32(SMB2_0_IOCTL_IS_FSCTL);
  body.u32(0);
  body.bytes(input);
  if (input.empty()) body.u8(0);
  return body.take();
}

// [MS-SMB2] 2.2.32.
IoctlResponse decodeIoctlResponse(const WireReader& message) {
  expectBody(message, 49);
  IoctlResponse response;
  response.ctlCode = message.u32(68);
  response.output = responseBuffer(message, message.u32(96), message.u32(100), 112, "Output");
  return response;
}

// [MS-SMB2] 2.2.31.4.
Bytes encodeValidateNegotiateInfo(std::uint32_t capabilities,
                                  const std::array<std::uint8_t, 16>& guid,
                                  std::uint16_t securityMode,
                                  const std::vector<std::uint16_t>& dialects) {
  WireWriter out;
  out.u32(capabilities);
  out.bytes(guid);
  out.u16(securityMode);
  out.u16(static_cast<std::uint16_t>(dialects.size()));
  for (const std::uint16_t dialect : dialects) out.u16(dialect);
  return out.take();
}

// [MS-SMB2] 2.2.32.6.
ValidateNegotiateInfo decodeValidateNegotiateInfo(const WireReader& output) {
  if (output.size() != 24) output.fail("a VALIDATE_NEGOTIATE_INFO answer of the wrong size");
  ValidateNegotiateInfo info;
  info.capabilities = output.u32(0);
  info.guid = readArray<16>(output, 4);
  info.securityMode = output.u16(20);
  info.dialect = output.u16(22);
  return info;
}

// [MS-SMB2] 2.2.41.
void encodeTransformHeader(WireWriter& out, const TransformHeader& header) {
  out.bytes(kTransformProtocolId);
  out.bytes(header.signature);
  out.bytes(header.nonce);
  out.u32(header.originalMessageSize);
  out.u16(0);
  out.u16(header.flags);
  out.u64(header.sessionId);
}

TransformHeader decodeTransformHeader(const WireReader& message) {
  if (message.size() < kTransformHeaderSize) message.fail("shorter than a TRANSFORM_HEADER");
  if (!startsWithTransformHeader(message.data())) message.fail("no TRANSFORM_HEADER");
  TransformHeader header;
  header.signature = readArray<16>(message, 4);
  header.nonce = readArray<16>(message, 20);
  header.originalMessageSize = message.u32(36);
  header.flags = message.u16(42);
  header.sessionId = message.u64(44);
  return header;
}

}  // namespace kestrine::smb
