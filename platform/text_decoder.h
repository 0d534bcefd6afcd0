#pragma once

#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// Turns text in a character set into UTF-8; bytes that do not decode become
// U+FFFD. The default is the locale's character set, the system's code page.
class TextDecoder {
 public:
  // The character set of the environment's locale (LC_ALL, LC_CTYPE, LANG).
  // A locale that names plain ASCII (the C locale) reads UTF-8, its superset.
  static std::string localeCharset();

  explicit TextDecoder(const std::string& charset = localeCharset());
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  bool isUtf8() const { return converter_ == nullptr; }
  std::string decode(std::string_view bytes);

 private:
  iconv_t converter_ = nullptr;  // none: the text is UTF-8 already
};

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
