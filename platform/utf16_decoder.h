#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// Turns UTF-16 into UTF-8 piece by piece as a file is read: a code unit or a
// surrogate pair that one piece cuts off is completed by the next. Unpaired
// surrogates and an odd byte left at the end become U+FFFD.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  // Appends the UTF-8 of the bytes to `out`.
  void decode(std::string_view bytes, std::string& out);
  // The end of the text: appends U+FFFD for what is left undecoded.
  void finish(std::string& out);

 private:
  void decodeUnit(char16_t unit, std::string& out);

  bool bigEndian_;
  std::optional<unsigned char> oddByte_;
  char16_t highSurrogate_ = 0;  // waiting for its low half; 0 for none
};

// The text with every byte sequence that is not valid UTF-8 replaced by U+FFFD.
std::string repairUtf8(std::string_view bytes);

}  // namespace kestrine
