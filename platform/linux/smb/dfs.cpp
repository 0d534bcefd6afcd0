#include "platform/linux/smb/dfs.h"

namespace kestrine::smb {
namespace {

// A zero-terminated UTF-16 string at `offset` of the view.
std::string terminatedUtf16(const WireReader& in, std::size_t offset) {
  std::size_t end = offset;
  while (in.u16(end) != 0) end += 2;
  return in.utf16(offset, end - offset);
}

constexpr std::uint16_t kNameListReferral = 0x0002;

}  // namespace

// [MS-DFSC] 2.2.2.
Bytes encodeReferralRequest(std::string_view path, std::uint16_t maxReferralLevel) {
  WireWriter out;
  out.u16(maxReferralLevel);
  out.utf16(path);
  out.u16(0);
  return out.take();
}

// [MS-DFSC] 2.2.4, 2.2.5.1 to 2.2.5.4: each entry's strings are named by
// offsets from the start of that entry.
Referral decodeReferralResponse(ByteView data) {
  const WireReader in(data, "the DFS referral");
  Referral referral;
  const std::uint16_t pathConsumed = in.u16(0);
  if (pathConsumed % 2 != 0) in.fail("PathConsumed is an odd number of bytes");
  referral.charactersConsumed = pathConsumed / 2;
  const std::uint16_t count = in.u16(2);
  std::size_t offset = 8;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint16_t version = in.u16(offset);
    const std::uint16_t size = in.u16(offset + 2);
    if (size < 8) in.fail("a referral entry shorter than its header");
    in.bytes(offset, size);
    const WireReader entry = in.sub(offset, in.size() - offset);
    switch (version) {
      case 1:
        referral.targets.push_back(terminatedUtf16(entry, 8));
        break;
      case 2:
        referral.targets.push_back(terminatedUtf16(entry, entry.u16(20)));
        break;
      case 3:
      case 4:
        if (!(entry.u16(6) & kNameListReferral)) {
          referral.targets.push_back(terminatedUtf16(entry, entry.u16(16)));
        }
        break;
      default:
        in.fail("a referral entry of version " + std::to_string(version));
    }
    offset += size;
  }
  if (referral.targets.empty()) in.fail("a referral without a target");
  return referral;
}

}  // namespace kestrine::smb
