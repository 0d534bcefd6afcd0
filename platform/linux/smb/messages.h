#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/smb/wire.h"

// The SMB2 messages this client sends and receives ([MS-SMB2] 2.2): one
// encode per request (its body, after the header, with offsets counted from
// the header as the document counts them) and one decode per response (from a
// view that starts at the response's header). No I/O and no keys here.
namespace kestrine::smb {

// [MS-SMB2] 2.2.1.2: the SMB2 header.
inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::size_t kSignatureOffset = 48;
inline constexpr std::size_t kSignatureSize = 16;

enum Command : std::uint16_t {
  SMB2_NEGOTIATE = 0x0000,
  SMB2_SESSION_SETUP = 0x0001,
  SMB2_LOGOFF = 0x0002,
  SMB2_TREE_CONNECT = 0x0003,
  SMB2_TREE_DISCONNECT = 0x0004,
  SMB2_CREATE = 0x0005,
  SMB2_CLOSE = 0x0006,
  SMB2_IOCTL = 0x000B,
  SMB2_CANCEL = 0x000C,
  SMB2_ECHO = 0x000D,
  SMB2_QUERY_DIRECTORY = 0x000E,
  SMB2_QUERY_INFO = 0x0010,
  SMB2_SET_INFO = 0x0011,
  SMB2_OPLOCK_BREAK = 0x0012,
};
// "NEGOTIATE", "CREATE"...: for messages.
const char* commandName(std::uint16_t command);

inline constexpr std::uint32_t SMB2_FLAGS_SERVER_TO_REDIR = 0x00000001;
inline constexpr std::uint32_t SMB2_FLAGS_ASYNC_COMMAND = 0x00000002;
inline constexpr std::uint32_t SMB2_FLAGS_RELATED_OPERATIONS = 0x00000004;
inline constexpr std::uint32_t SMB2_FLAGS_SIGNED = 0x00000008;
inline constexpr std::uint32_t SMB2_FLAGS_DFS_OPERATIONS = 0x10000000;

// The MessageId of an unsolicited message from the server (an oplock break).
inline constexpr std::uint64_t kUnsolicitedMessageId = 0xFFFFFFFFFFFFFFFF;

struct Header {
  std::uint16_t creditCharge = 0;
  std::uint32_t status = 0;  // ChannelSequence/Reserved in a request: 0
  std::uint16_t command = 0;
  std::uint16_t credits = 0;  // CreditRequest/CreditResponse
  std::uint32_t flags = 0;
  std::uint32_t nextCommand = 0;
  std::uint64_t messageId = 0;
  std::uint64_t asyncId = 0;  // with SMB2_FLAGS_ASYNC_COMMAND
  std::uint32_t treeId = 0;   // without it
  std::uint64_t sessionId = 0;
  std::array<std::uint8_t, kSignatureSize> signature{};
};
void encodeHeader(WireWriter& out, const Header& header);
// Checks ProtocolId and StructureSize.
Header decodeHeader(const WireReader& message);

// [MS-SMB2] 2.2.3: dialects, SecurityMode, Capabilities.
inline constexpr std::uint16_t kDialect202 = 0x0202;
inline constexpr std::uint16_t kDialect210 = 0x0210;
inline constexpr std::uint16_t kDialect300 = 0x0300;
inline constexpr std::uint16_t kDialect302 = 0x0302;
inline constexpr std::uint16_t kDialect311 = 0x0311;
std::string dialectName(std::uint16_t dialect);  // "3.1.1"
inline bool isSmb3(std::uint16_t dialect) {
  return dialect >= kDialect300;
}

inline constexpr std::uint16_t SMB2_NEGOTIATE_SIGNING_ENABLED = 0x0001;
inline constexpr std::uint16_t SMB2_NEGOTIATE_SIGNING_REQUIRED = 0x0002;
inline constexpr std::uint32_t SMB2_GLOBAL_CAP_DFS = 0x00000001;
inline constexpr std::uint32_t SMB2_GLOBAL_CAP_LARGE_MTU = 0x00000004;
inline constexpr std::uint32_t SMB2_GLOBAL_CAP_ENCRYPTION = 0x00000040;

// [MS-SMB2] 2.2.3.1: negotiate contexts.
inline constexpr std::uint16_t SMB2_PREAUTH_INTEGRITY_CAPABILITIES = 0x0001;
inline constexpr std::uint16_t SMB2_ENCRYPTION_CAPABILITIES = 0x0002;
inline constexpr std::uint16_t SMB2_SIGNING_CAPABILITIES = 0x0008;
inline constexpr std::uint16_t kHashSha512 = 0x0001;
inline constexpr std::uint16_t AES_128_CCM = 0x0001;
inline constexpr std::uint16_t AES_128_GCM = 0x0002;
inline constexpr std::uint16_t AES_256_CCM = 0x0003;
inline constexpr std::uint16_t AES_256_GCM = 0x0004;
inline constexpr std::uint16_t HMAC_SHA256 = 0x0000;
inline constexpr std::uint16_t AES_CMAC = 0x0001;
inline constexpr std::uint16_t AES_GMAC = 0x0002;

struct NegotiateRequest {
  std::vector<std::uint16_t> dialects;
  std::uint16_t securityMode = 0;
  std::uint32_t capabilities = 0;
  std::array<std::uint8_t, 16> clientGuid{};
  // The 3.1.1 contexts, sent when the dialects hold 3.1.1.
  std::array<std::uint8_t, 32> salt{};
  std::vector<std::uint16_t> ciphers;
  std::vector<std::uint16_t> signingAlgorithms;
};
Bytes encodeNegotiateRequest(const NegotiateRequest& request);

struct NegotiateResponse {
  std::uint16_t securityMode = 0;
  std::uint16_t dialect = 0;
  std::array<std::uint8_t, 16> serverGuid{};
  std::uint32_t capabilities = 0;
  std::uint32_t maxTransactSize = 0;
  std::uint32_t maxReadSize = 0;
  std::uint32_t maxWriteSize = 0;
  Bytes securityBuffer;
  // 3.1.1 only: what the server chose ([MS-SMB2] 2.2.4.1).
  std::optional<std::uint16_t> hashAlgorithm;
  std::optional<std::uint16_t> cipher;  // 0: no cipher in common
  std::optional<std::uint16_t> signingAlgorithm;
};
NegotiateResponse decodeNegotiateResponse(const WireReader& message);

// [MS-SMB2] 2.2.5, 2.2.6: SESSION_SETUP.
inline constexpr std::uint16_t SMB2_SESSION_FLAG_IS_GUEST = 0x0001;
inline constexpr std::uint16_t SMB2_SESSION_FLAG_IS_NULL = 0x0002;
inline constexpr std::uint16_t SMB2_SESSION_FLAG_ENCRYPT_DATA = 0x0004;

Bytes encodeSessionSetupRequest(std::uint8_t securityMode, ByteView token);
struct SessionSetupResponse {
  std::uint16_t sessionFlags = 0;
  Bytes token;
};
SessionSetupResponse decodeSessionSetupResponse(const WireReader& message);

// [MS-SMB2] 2.2.7, 2.2.9, 2.2.11: LOGOFF and TREE_DISCONNECT have one body.
Bytes encodeLogoffRequest();
Bytes encodeTreeDisconnectRequest();

// [MS-SMB2] 2.2.9, 2.2.10: TREE_CONNECT.
inline constexpr std::uint32_t SMB2_SHAREFLAG_DFS = 0x00000001;
inline constexpr std::uint32_t SMB2_SHAREFLAG_DFS_ROOT = 0x00000002;
inline constexpr std::uint32_t SMB2_SHAREFLAG_ENCRYPT_DATA = 0x00008000;
inline constexpr std::uint32_t SMB2_SHARE_CAP_DFS = 0x00000008;
inline constexpr std::uint8_t SMB2_SHARE_TYPE_DISK = 0x01;
inline constexpr std::uint8_t SMB2_SHARE_TYPE_PIPE = 0x02;

// `path` is "\\server\share".
Bytes encodeTreeConnectRequest(std::string_view path);
struct TreeConnectResponse {
  std::uint8_t shareType = 0;
  std::uint32_t shareFlags = 0;
  std::uint32_t capabilities = 0;
  std::uint32_t maximalAccess = 0;
};
TreeConnectResponse decodeTreeConnectResponse(const WireReader& message);

// [MS-SMB2] 2.2.13: CREATE. Access masks ([MS-SMB2] 2.2.13.1.1, [MS-DTYP] 2.4.3).
inline constexpr std::uint32_t FILE_LIST_DIRECTORY = 0x00000001;
inline constexpr std::uint32_t FILE_READ_ATTRIBUTES = 0x00000080;
inline constexpr std::uint32_t DELETE = 0x00010000;
inline constexpr std::uint32_t READ_CONTROL = 0x00020000;
inline constexpr std::uint32_t WRITE_DAC = 0x00040000;
inline constexpr std::uint32_t WRITE_OWNER = 0x00080000;
inline constexpr std::uint32_t SYNCHRONIZE = 0x00100000;

inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr std::uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;

inline constexpr std::uint32_t FILE_SHARE_READ = 0x00000001;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x00000002;
inline constexpr std::uint32_t FILE_SHARE_DELETE = 0x00000004;

inline constexpr std::uint32_t FILE_OPEN = 0x00000001;
inline constexpr std::uint32_t FILE_CREATE = 0x00000002;

inline constexpr std::uint32_t FILE_DIRECTORY_FILE = 0x00000001;
inline constexpr std::uint32_t FILE_NON_DIRECTORY_FILE = 0x00000040;
inline constexpr std::uint32_t FILE_OPEN_REPARSE_POINT = 0x00200000;

inline constexpr std::uint32_t kImpersonation = 0x00000002;

struct FileId {
  std::uint64_t persistent = 0;
  std::uint64_t volatileId = 0;
  bool operator==(const FileId&) const = default;
};
// The FileId of a request that acts on what the previous request of its
// compound opened ([MS-SMB2] 3.2.4.1.4), and of IOCTLs on no file.
inline constexpr FileId kRelatedFileId{0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF};

// [MS-SMB2] 2.2.13.2: a create context, such as SMB2_CREATE_SD_BUFFER.
struct CreateContext {
  std::string name;  // "SecD"
  Bytes data;
};
inline constexpr std::string_view SMB2_CREATE_SD_BUFFER = "SecD";
inline constexpr std::string_view SMB2_CREATE_QUERY_ON_DISK_ID = "QFid";

struct CreateRequest {
  std::uint32_t desiredAccess = 0;
  std::uint32_t fileAttributes = 0;
  std::uint32_t shareAccess = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  std::uint32_t createDisposition = FILE_OPEN;
  std::uint32_t createOptions = 0;
  std::string name;  // relative to the share, "\" between elements, no leading "\"
  std::vector<CreateContext> contexts;
};
Bytes encodeCreateRequest(const CreateRequest& request);

struct CreateResponse {
  std::uint32_t createAction = 0;
  std::uint32_t fileAttributes = 0;
  FileId fileId;
  std::vector<CreateContext> contexts;
};
CreateResponse decodeCreateResponse(const WireReader& message);

// [MS-SMB2] 2.2.15, 2.2.16: CLOSE.
Bytes encodeCloseRequest(const FileId& fileId);
void decodeCloseResponse(const WireReader& message);

// [MS-SMB2] 2.2.33, 2.2.34: QUERY_DIRECTORY.
inline constexpr std::uint8_t SMB2_RESTART_SCANS = 0x01;
Bytes encodeQueryDirectoryRequest(std::uint8_t fileInformationClass, std::uint8_t flags,
                                  const FileId& fileId, std::string_view pattern,
                                  std::uint32_t outputBufferLength);
// The output buffer; empty when the server sent none.
ByteView decodeQueryDirectoryResponse(const WireReader& message);

// [MS-SMB2] 2.2.37, 2.2.38: QUERY_INFO; 2.2.39, 2.2.40: SET_INFO.
inline constexpr std::uint8_t SMB2_0_INFO_FILE = 0x01;
inline constexpr std::uint8_t SMB2_0_INFO_SECURITY = 0x03;
// AdditionalInformation for SMB2_0_INFO_SECURITY ([MS-SMB2] 2.2.37).
inline constexpr std::uint32_t OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr std::uint32_t GROUP_SECURITY_INFORMATION = 0x00000002;
inline constexpr std::uint32_t DACL_SECURITY_INFORMATION = 0x00000004;

Bytes encodeQueryInfoRequest(std::uint8_t infoType, std::uint8_t fileInfoClass,
                             std::uint32_t outputBufferLength, std::uint32_t additionalInformation,
                             const FileId& fileId);
ByteView decodeQueryInfoResponse(const WireReader& message);
Bytes encodeSetInfoRequest(std::uint8_t infoType, std::uint8_t fileInfoClass,
                           std::uint32_t additionalInformation, const FileId& fileId,
                           ByteView buffer);
void decodeSetInfoResponse(const WireReader& message);

// [MS-SMB2] 2.2.31, 2.2.32: IOCTL.
inline constexpr std::uint32_t FSCTL_DFS_GET_REFERRALS = 0x00060194;
inline constexpr std::uint32_t FSCTL_VALIDATE_NEGOTIATE_INFO = 0x00140204;
inline constexpr std::uint32_t SMB2_0_IOCTL_IS_FSCTL = 0x00000001;
Bytes encodeIoctlRequest(std::uint32_t ctlCode, const FileId& fileId, ByteView input,
                         std::uint32_t maxOutputResponse);
struct IoctlResponse {
  std::uint32_t ctlCode = 0;
  ByteView output;  // into the message
};
IoctlResponse decodeIoctlResponse(const WireReader& message);

// [MS-SMB2] 2.2.31.4, 2.2.32.6: VALIDATE_NEGOTIATE_INFO.
Bytes encodeValidateNegotiateInfo(std::uint32_t capabilities,
                                  const std::array<std::uint8_t, 16>& guid,
                                  std::uint16_t securityMode,
                                  const std::vector<std::uint16_t>& dialects);
struct ValidateNegotiateInfo {
  std::uint32_t capabilities = 0;
  std::array<std::uint8_t, 16> guid{};
  std::uint16_t securityMode = 0;
  std::uint16_t dialect = 0;
};
ValidateNegotiateInfo decodeValidateNegotiateInfo(const WireReader& output);

// [MS-SMB2] 2.2.41: the SMB2 TRANSFORM_HEADER of an encrypted message.
inline constexpr std::size_t kTransformHeaderSize = 52;
// The part of the transform header that the cipher authenticates: from Nonce
// to the end ([MS-SMB2] 3.1.4.3).
inline constexpr std::size_t kTransformAadOffset = 20;
struct TransformHeader {
  std::array<std::uint8_t, 16> signature{};
  std::array<std::uint8_t, 16> nonce{};
  std::uint32_t originalMessageSize = 0;
  std::uint16_t flags = 0;  // 0x0001: Encrypted
  std::uint64_t sessionId = 0;
};
void encodeTransformHeader(WireWriter& out, const TransformHeader& header);
TransformHeader decodeTransformHeader(const WireReader& message);

// The protocol identifiers that open a message.
bool startsWithSmb2Header(ByteView message);
bool startsWithTransformHeader(ByteView message);

}  // namespace kestrine::smb
