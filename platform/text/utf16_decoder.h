#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// Turns UTF-16 into UTF-8 piece by piece as a file is read: a code unit or a
// surrogate pair that one piece cuts off is completed by the next. What is no
// text comes out as bytes that UTF-8 never holds, so that the reader can
// refuse its line: an unpaired surrogate as its three-byte form (ED A0 80 for
// U+D800), an odd byte left at the end as FF.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  // Appends the UTF-8 of the bytes to `out`.
  void decode(std::string_view bytes, std::string& out);
  // The end of the text: appends what is left undecoded, as no text.
  void finish(std::string& out);

 private:
  void decodeUnit(char16_t unit, std::string& out);

  bool bigEndian_;
  std::optional<unsigned char> oddByte_;
  char16_t highSurrogate_ = 0;  // waiting for its low half; 0 for none
};

// The offset of the first byte that does not belong to well-formed UTF-8
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF), or
// npos when there is none.
std::size_t invalidUtf8At(std::string_view bytes);

// A byte of a line that is no character in the line's character set.
struct BadByte {
  std::size_t offset;  // in the decoded text, where U+FFFD stands for it
  unsigned char value;
};

// The text with every byte that does not belong to well-formed UTF-8
// replaced by U+FFFD, for showing it; `bad` gets the first such byte.
std::string repairUtf8(std::string_view bytes, std::optional<BadByte>& bad);

// Appends UTF-8 that a code page's bytes turned into, as a secret may be
// (see appendWiping). A C1 control character (U+0080-U+009F) counts as a
// byte that is no character: ISO 8859 code pages have them where Windows code
// pages have letters, and Windows turns the bytes that its code pages leave
// undefined into them. It comes out as U+FFFD, and `bad` gets the first one
// with its byte, which is its code in both.
void appendCodePageText(std::string& out, std::string_view utf8, std::optional<BadByte>& bad);

// U+FFFD, which stands for bytes that are no text in what is shown.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace kestrine
