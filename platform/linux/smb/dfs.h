#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/smb/wire.h"

// DFS referrals ([MS-DFSC] 2.2.2, 2.2.4, 2.2.5), asked for with
// FSCTL_DFS_GET_REFERRALS over IPC$ ([MS-SMB2] 3.2.4.20.3).
namespace kestrine::smb {

// REQ_GET_DFS_REFERRAL for a path "\server\share\rest".
Bytes encodeReferralRequest(std::string_view path, std::uint16_t maxReferralLevel = 4);

struct Referral {
  // How many characters of the path asked about the referral covers.
  std::size_t charactersConsumed = 0;
  // The targets, in the server's order of preference: "\server\share[\path]".
  std::vector<std::string> targets;
};
// RESP_GET_DFS_REFERRAL with entries of versions 1 to 4; name list referrals
// (for domain and DC referrals) are not used here and are skipped.
Referral decodeReferralResponse(ByteView data);

}  // namespace kestrine::smb
