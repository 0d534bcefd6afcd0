#pragma once

#include <string_view>

#include "platform/linux/smb/wire.h"

namespace kestrine::smb::test {

inline Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

inline Bytes ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace kestrine::smb::test
