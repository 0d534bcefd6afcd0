#include <gtest/gtest.h>

#include <functional>

#include "platform/linux/smb/file_information.h"
#include "platform/linux/smb/messages.h"
#include "platform/linux/smb/security_descriptor.h"
#include "test_bytes.h"

namespace kestrine::smb {
namespace {

TEST(SmbCodec, SidsInTextAndBack) {
  for (const char* text : {"S-1-5-32-544", "S-1-5-21-1004336348-1177238915-682003330-512",
                           "S-1-1-0", "S-1-0x123456789ABC-7"}) {
    EXPECT_EQ(Sid::parse(text).toString(), text);
  }
  for (const char* bad :
       {"", "S-1-", "S-2-5-32", "S-1-5-", "S-1-5-32-x", "S-1-5--3", "S-1-5-4294967296",
        "S-1-281474976710656", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    EXPECT_THROW(Sid::parse(bad), std::invalid_argument) << bad;
  }
}

TEST(SmbCodec, ProtectedDescriptorRoundTrip) {
  const Sid user = Sid::parse("S-1-5-21-1-2-3-1105");
  const SecurityDescriptor folder =
      protectedFullControl({administratorsSid(), user}, true, administratorsSid());
  const Bytes encoded = encodeSecurityDescriptor(folder);
  const SecurityDescriptor decoded = decodeSecurityDescriptor(encoded);
  EXPECT_EQ(decoded, folder);
  EXPECT_EQ(decoded.control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
  ASSERT_EQ(decoded.dacl->aces.size(), 2u);
  EXPECT_EQ(decoded.dacl->aces[1].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  EXPECT_EQ(decoded.dacl->aces[1].mask, kFullControl);
  const SecurityDescriptor file = decodeSecurityDescriptor(
      encodeSecurityDescriptor(protectedFullControl({administratorsSid(), user}, false)));
  EXPECT_EQ(file.dacl->aces[0].flags, 0);
  EXPECT_FALSE(file.owner);
  // A NULL DACL (present, no ACL) stays one: it grants everyone everything.
  SecurityDescriptor null;
  null.control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
  const SecurityDescriptor back = decodeSecurityDescriptor(encodeSecurityDescriptor(null));
  EXPECT_TRUE(back.control & SE_DACL_PRESENT);
  EXPECT_FALSE(back.dacl);
}

// One entry of FileIdBothDirectoryInformation ([MS-FSCC] 2.4.18).
Bytes bothEntry(const std::string& name, std::uint32_t attributes, std::uint32_t eaSize,
                std::uint64_t id, bool last) {
  const Bytes utf16 = toUtf16(name);
  WireWriter out;
  out.u32(0);
  out.u32(0);
  out.zeros(48);
  out.u32(attributes);
  out.u32(static_cast<std::uint32_t>(utf16.size()));
  out.u32(eaSize);
  out.zeros(1 + 1 + 24 + 2);
  out.u64(id);
  out.bytes(utf16);
  out.align(8);
  Bytes entry = out.take();
  if (!last) patchU32(entry, 0, static_cast<std::uint32_t>(entry.size()));
  return entry;
}

TEST(SmbCodec, DirectoryEntriesWithReparseTags) {
  Bytes buffer = bothEntry(".", FILE_ATTRIBUTE_DIRECTORY, 0, 5, false);
  const Bytes junction = bothEntry("up", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
                                   0xA0000003, 9, false);
  const Bytes file = bothEntry("Ünïcode.txt", 0x20, 77, 10, true);
  buffer.insert(buffer.end(), junction.begin(), junction.end());
  buffer.insert(buffer.end(), file.begin(), file.end());
  const auto entries = decodeDirectoryInformation(FileIdBothDirectoryInformation, buffer);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].fileId, 5u);
  EXPECT_EQ(entries[1].reparseTag, 0xA0000003u);
  EXPECT_TRUE(isNameSurrogate(entries[1].reparseTag));
  EXPECT_EQ(entries[2].name, "Ünïcode.txt");
  EXPECT_EQ(entries[2].reparseTag, 0u);  // EaSize is a size unless it is a reparse point
}

// A response with a given body after a plain header.
Bytes response(std::uint16_t command, const Bytes& body) {
  WireWriter out;
  Header header;
  header.command = command;
  header.flags = SMB2_FLAGS_SERVER_TO_REDIR;
  encodeHeader(out, header);
  out.bytes(body);
  return out.take();
}

TEST(SmbCodec, RepliesThatDoNotFitAreRefused) {
  auto decode = [](auto decoder) {
    return [decoder](ByteView data) { decoder(WireReader(data, "the reply")); };
  };
  struct Case {
    const char* what;
    Bytes data;
    std::function<void(ByteView)> decode;
    const char* reason;
  };
  // A create response whose contexts lie past its end; one whose FileId is cut.
  Bytes createPastEnd(89 - 1, 0);
  createPastEnd[0] = 89;
  patchU32(createPastEnd, 144 - 64, 152);
  patchU32(createPastEnd, 148 - 64, 4096);
  Bytes queryInfo{9, 0, 72, 0, 0xFF, 0xFF, 0, 0, 0};
  Bytes inFixedPart{9, 0, 64, 0, 4, 0, 0, 0, 0};
  const Case cases[] = {
      {"a header cut short", Bytes{0xFE, 'S', 'M', 'B', 64, 0}, decode(decodeHeader),
       "shorter than an SMB2 header"},
      {"no SMB2 header", Bytes(64, 0), decode(decodeHeader), "no SMB2 header"},
      {"a wrong StructureSize", response(SMB2_CLOSE, Bytes(58, 0)), decode(decodeCloseResponse),
       "StructureSize"},
      {"create contexts past the end", response(SMB2_CREATE, createPastEnd),
       decode(decodeCreateResponse), "past the end"},
      {"a buffer length past the end", response(SMB2_QUERY_INFO, queryInfo),
       decode(decodeQueryInfoResponse), "past the end"},
      {"a buffer inside the fixed part", response(SMB2_QUERY_INFO, inFixedPart),
       decode(decodeQueryInfoResponse), "inside the response's fixed part"},
      {"a security descriptor cut short", Bytes{1, 0, 0x04, 0x80, 20, 0, 0, 0},
       [](ByteView data) { decodeSecurityDescriptor(data); }, "past the end"},
      {"an ACE size of zero", Bytes{1,  0, 0x04, 0x80, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    20, 0, 0,    0,    2, 0, 12, 0, 1, 0, 0, 0, 0, 0, 0, 0},
       [](ByteView data) { decodeSecurityDescriptor(data); }, "shorter than its header"},
      {"a SID of 200 sub-authorities", Bytes{1, 0, 0x00, 0x80, 20, 0, 0, 0,   0, 0, 0, 0, 0, 0,
                                             0, 0, 0,    0,    0,  0, 1, 200, 0, 0, 0, 0, 0, 5},
       [](ByteView data) { decodeSecurityDescriptor(data); }, "more than 15"},
      {"a directory entry name past its end", bothEntry("name", 0, 0, 1, true),
       [](ByteView data) {
         Bytes longer(data.begin(), data.end());
         patchU32(longer, 60, 4000);
         decodeDirectoryInformation(FileIdBothDirectoryInformation, longer);
       },
       "past the end"},
      {"a directory entry that points back at itself", bothEntry("a", 0, 0, 1, true),
       [](ByteView data) {
         Bytes looping(data.begin(), data.end());
         patchU32(looping, 0, 4);  // not a multiple of 8, and inside the entry
         decodeDirectoryInformation(FileIdBothDirectoryInformation, looping);
       },
       "shorter than its fixed part"},
      {"a name of an odd length", bothEntry("ab", 0, 0, 1, true),
       [](ByteView data) {
         Bytes odd(data.begin(), data.end());
         patchU32(odd, 60, 3);
         decodeDirectoryInformation(FileIdBothDirectoryInformation, odd);
       },
       "odd number"},
      {"a transform header cut short", Bytes{0xFD, 'S', 'M', 'B', 1, 2},
       decode(decodeTransformHeader), "shorter than a TRANSFORM_HEADER"},
  };
  for (const Case& c : cases) {
    try {
      c.decode(c.data);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const MalformedReply& refused) {
      EXPECT_NE(std::string(refused.what()).find(c.reason), std::string::npos)
          << c.what << ": " << refused.what();
    }
  }
}

TEST(SmbCodec, NegotiateContextsAreAlignedAndCounted) {
  NegotiateRequest request;
  request.dialects = {kDialect202, kDialect210, kDialect300, kDialect302, kDialect311};
  request.ciphers = {AES_128_GCM, AES_128_CCM};
  request.signingAlgorithms = {AES_CMAC};
  const Bytes body = encodeNegotiateRequest(request);
  const WireReader in(body, "request");
  const std::size_t offset = in.u32(28) - kHeaderSize;
  EXPECT_EQ(in.u16(32), 3);  // NegotiateContextCount
  EXPECT_EQ((offset + kHeaderSize) % 8, 0u);
  EXPECT_EQ(in.u16(offset), SMB2_PREAUTH_INTEGRITY_CAPABILITIES);
  const std::size_t second = (offset + 8 + in.u16(offset + 2) + 7) & ~std::size_t{7};
  EXPECT_EQ(in.u16(second), SMB2_ENCRYPTION_CAPABILITIES);
  EXPECT_EQ(in.u16(second + 10), AES_128_GCM);
}

}  // namespace
}  // namespace kestrine::smb
