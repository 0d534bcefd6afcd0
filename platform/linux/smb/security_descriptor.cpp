#include "platform/linux/smb/security_descriptor.h"

#include <charconv>
#include <cstdio>

namespace kestrine::smb {
namespace {

constexpr std::size_t kMaxSubAuthorities = 15;  // [MS-DTYP] 2.4.2

void writeSid(WireWriter& out, const Sid& sid) {
  out.u8(1);
  out.u8(static_cast<std::uint8_t>(sid.subAuthorities.size()));
  for (int shift = 40; shift >= 0; shift -= 8)
    out.u8(static_cast<std::uint8_t>(sid.authority >> shift));
  for (const std::uint32_t sub : sid.subAuthorities) out.u32(sub);
}

std::size_t sidSize(const WireReader& in, std::size_t offset) {
  return 8 + 4 * std::size_t{in.u8(offset + 1)};
}

Sid readSid(const WireReader& in, std::size_t offset) {
  if (in.u8(offset) != 1) in.fail("a SID of a revision other than 1");
  const std::size_t count = in.u8(offset + 1);
  if (count > kMaxSubAuthorities) in.fail("a SID of more than 15 sub-authorities");
  Sid sid;
  const ByteView authority = in.bytes(offset + 2, 6);
  for (const std::uint8_t byte : authority) sid.authority = (sid.authority << 8) | byte;
  for (std::size_t i = 0; i < count; ++i) sid.subAuthorities.push_back(in.u32(offset + 8 + 4 * i));
  return sid;
}

bool aceHasMaskAndSid(std::uint8_t type) {
  // [MS-DTYP] 2.4.4.2-2.4.4.17: ACCESS_ALLOWED, ACCESS_DENIED, SYSTEM_AUDIT,
  // SYSTEM_ALARM and their _CALLBACK forms, and the mandatory label, resource
  // attribute, scoped policy ACEs start with Mask then Sid.
  switch (type) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x09:
    case 0x0A:
    case 0x0D:
    case 0x0E:
    case 0x11:
    case 0x12:
    case 0x13:
      return true;
    default:
      return false;
  }
}

void writeAcl(WireWriter& out, const Acl& acl) {
  const std::size_t start = out.size();
  out.u8(acl.revision);
  out.u8(0);
  out.u16(0);  // AclSize, set below
  out.u16(static_cast<std::uint16_t>(acl.aces.size()));
  out.u16(0);
  for (const Ace& ace : acl.aces) {
    const std::size_t aceStart = out.size();
    out.u8(ace.type);
    out.u8(ace.flags);
    out.u16(0);  // AceSize, set below
    if (ace.sid && aceHasMaskAndSid(ace.type)) {
      out.u32(ace.mask);
      writeSid(out, *ace.sid);
    }
    out.bytes(ace.body);
    out.align(4);  // AceSize is a multiple of 4
    out.patchU16(aceStart + 2, static_cast<std::uint16_t>(out.size() - aceStart));
  }
  out.patchU16(start + 2, static_cast<std::uint16_t>(out.size() - start));
}

Acl readAcl(const WireReader& in, std::size_t offset) {
  const std::uint16_t aclSize = in.u16(offset + 2);
  const WireReader acl = in.sub(offset, aclSize, in.what() + " (ACL)");
  Acl result;
  result.revision = acl.u8(0);
  if (result.revision != 2 && result.revision != 4) acl.fail("an ACL of an unknown revision");
  const std::uint16_t count = acl.u16(4);
  std::size_t at = 8;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint16_t size = acl.u16(at + 2);
    if (size < 4) acl.fail("an ACE shorter than its header");
    const WireReader raw = acl.sub(at, size, acl.what() + " (ACE)");
    Ace ace;
    ace.type = raw.u8(0);
    ace.flags = raw.u8(1);
    std::size_t used = 4;
    if (aceHasMaskAndSid(ace.type)) {
      ace.mask = raw.u32(4);
      ace.sid = readSid(raw, 8);
      used = 8 + sidSize(raw, 8);
    }
    const ByteView rest = raw.bytes(used, size - used);
    // What follows a SID is kept only where the type carries it (callback
    // data, attributes); padding to 4 bytes is not.
    if (!aceHasMaskAndSid(ace.type) || ace.type >= 0x09) ace.body.assign(rest.begin(), rest.end());
    result.aces.push_back(std::move(ace));
    at += size;
  }
  return result;
}

}  // namespace

Sid Sid::parse(std::string_view text) {
  auto bad = [&text] { throw std::invalid_argument("not a SID: " + std::string(text)); };
  if (text.substr(0, 4) != "S-1-") bad();
  std::vector<std::uint64_t> numbers;
  std::size_t at = 4;
  for (;;) {
    const std::size_t end = std::min(text.find('-', at), text.size());
    std::uint64_t value = 0;
    const char* first = text.data() + at;
    const char* last = text.data() + end;
    int base = 10;
    if (numbers.empty() && end - at > 2 && text[at] == '0' &&
        (text[at + 1] == 'x' || text[at + 1] == 'X')) {
      first += 2;
      base = 16;
    }
    const auto [ptr, error] = std::from_chars(first, last, value, base);
    if (first == last || error != std::errc() || ptr != last) bad();
    numbers.push_back(value);
    if (end == text.size()) break;
    at = end + 1;
  }
  Sid sid;
  sid.authority = numbers[0];
  if (sid.authority >> 48 != 0 || numbers.size() - 1 > kMaxSubAuthorities) bad();
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    if (numbers[i] > 0xFFFFFFFF) bad();
    sid.subAuthorities.push_back(static_cast<std::uint32_t>(numbers[i]));
  }
  return sid;
}

// [MS-DTYP] 2.4.2.1: the authority in decimal below 2^32, else in hex.
std::string Sid::toString() const {
  std::string text = "S-1-";
  if (authority >> 32 == 0) {
    text += std::to_string(authority);
  } else {
    char hex[20];
    std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(authority));
    text += hex;
  }
  for (const std::uint32_t sub : subAuthorities) text += "-" + std::to_string(sub);
  return text;
}

Bytes encodeSecurityDescriptor(const SecurityDescriptor& descriptor) {
  WireWriter out;
  out.u8(1);
  out.u8(0);
  std::uint16_t control = descriptor.control | SE_SELF_RELATIVE;
  if (descriptor.dacl) control |= SE_DACL_PRESENT;
  if (descriptor.sacl) control |= SE_SACL_PRESENT;
  out.u16(control);
  out.zeros(16);  // OffsetOwner, OffsetGroup, OffsetSacl, OffsetDacl
  if (descriptor.owner) {
    out.patchU32(4, static_cast<std::uint32_t>(out.size()));
    writeSid(out, *descriptor.owner);
  }
  if (descriptor.group) {
    out.patchU32(8, static_cast<std::uint32_t>(out.size()));
    writeSid(out, *descriptor.group);
  }
  if (descriptor.sacl) {
    out.patchU32(12, static_cast<std::uint32_t>(out.size()));
    writeAcl(out, *descriptor.sacl);
  }
  if (descriptor.dacl) {
    out.patchU32(16, static_cast<std::uint32_t>(out.size()));
    writeAcl(out, *descriptor.dacl);
  }
  return out.take();
}

SecurityDescriptor decodeSecurityDescriptor(ByteView data, const std::string& what) {
  const WireReader in(data, what);
  if (in.u8(0) != 1) in.fail("a security descriptor of a revision other than 1");
  SecurityDescriptor descriptor;
  descriptor.control = in.u16(2);
  if (!(descriptor.control & SE_SELF_RELATIVE))
    in.fail("a security descriptor that is not self-relative");
  const std::uint32_t owner = in.u32(4);
  const std::uint32_t group = in.u32(8);
  const std::uint32_t sacl = in.u32(12);
  const std::uint32_t dacl = in.u32(16);
  if (owner != 0) descriptor.owner = readSid(in, owner);
  if (group != 0) descriptor.group = readSid(in, group);
  if ((descriptor.control & SE_SACL_PRESENT) && sacl != 0) descriptor.sacl = readAcl(in, sacl);
  if ((descriptor.control & SE_DACL_PRESENT) && dacl != 0) descriptor.dacl = readAcl(in, dacl);
  return descriptor;
}

SecurityDescriptor protectedFullControl(const std::vector<Sid>& grantees, bool folder,
                                        std::optional<Sid> owner) {
  SecurityDescriptor descriptor;
  descriptor.control = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED;
  descriptor.owner = std::move(owner);
  Acl acl;
  for (const Sid& sid : grantees) {
    Ace ace;
    ace.type = ACCESS_ALLOWED_ACE_TYPE;
    ace.flags = folder ? (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) : 0;
    ace.mask = kFullControl;
    ace.sid = sid;
    acl.aces.push_back(std::move(ace));
  }
  descriptor.dacl = std::move(acl);
  return descriptor;
}

Sid administratorsSid() {
  return Sid{5, {32, 544}};
}

}  // namespace kestrine::smb
