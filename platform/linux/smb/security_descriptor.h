#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/smb/wire.h"

// Security descriptors in their self-relative form ([MS-DTYP] 2.4): what a
// CREATE carries in its SecD context, what SET_INFO writes and QUERY_INFO
// reads.
namespace kestrine::smb {

// [MS-DTYP] 2.4.2.
struct Sid {
  std::uint64_t authority = 0;  // IdentifierAuthority, 48 bits
  std::vector<std::uint32_t> subAuthorities;

  // "S-1-5-32-544"; std::invalid_argument for anything else.
  static Sid parse(std::string_view text);
  std::string toString() const;
  bool operator==(const Sid&) const = default;
};

// [MS-DTYP] 2.4.4.1: AceType values and AceFlags.
inline constexpr std::uint8_t ACCESS_ALLOWED_ACE_TYPE = 0x00;
inline constexpr std::uint8_t ACCESS_DENIED_ACE_TYPE = 0x01;
inline constexpr std::uint8_t OBJECT_INHERIT_ACE = 0x01;
inline constexpr std::uint8_t CONTAINER_INHERIT_ACE = 0x02;
inline constexpr std::uint8_t INHERIT_ONLY_ACE = 0x08;
inline constexpr std::uint8_t INHERITED_ACE = 0x10;
// FILE_ALL_ACCESS: full control of a file or folder.
inline constexpr std::uint32_t kFullControl = 0x001F01FF;

// [MS-DTYP] 2.4.4: one ACE. Allowed, denied, audit and alarm ACEs (and their
// callback forms) carry a mask and a SID this code reads; any other type is
// kept as it came, without a SID.
struct Ace {
  std::uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  std::optional<Sid> sid;
  Bytes body;  // after the ACE header, for the types without a known layout
  bool operator==(const Ace&) const = default;
};

// [MS-DTYP] 2.4.5.
struct Acl {
  std::uint8_t revision = 2;  // ACL_REVISION; 4 (ACL_REVISION_DS) with object ACEs
  std::vector<Ace> aces;
  bool operator==(const Acl&) const = default;
};

// [MS-DTYP] 2.4.6: Control bits.
inline constexpr std::uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr std::uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr std::uint16_t SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr std::uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr std::uint16_t SE_SELF_RELATIVE = 0x8000;

struct SecurityDescriptor {
  std::uint16_t control = SE_SELF_RELATIVE;
  std::optional<Sid> owner;
  std::optional<Sid> group;
  // With SE_DACL_PRESENT and no ACL: a NULL DACL, which grants everyone
  // everything.
  std::optional<Acl> dacl;
  std::optional<Acl> sacl;
  bool operator==(const SecurityDescriptor&) const = default;
};

Bytes encodeSecurityDescriptor(const SecurityDescriptor& descriptor);
// `what` names the descriptor in a refusal.
SecurityDescriptor decodeSecurityDescriptor(ByteView data,
                                            const std::string& what = "a security descriptor");

// The security descriptor a home folder or file gets: a protected DACL of
// full control for each SID, inherited by files and folders below a folder
// (OI|CI) and not by anything on a file; with the owner when one is given.
SecurityDescriptor protectedFullControl(const std::vector<Sid>& grantees, bool folder,
                                        std::optional<Sid> owner = std::nullopt);

// BUILTIN\Administrators.
Sid administratorsSid();

}  // namespace kestrine::smb
