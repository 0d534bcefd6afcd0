#pragma once

#include <iconv.h>

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

// The text with every byte sequence that is not valid UTF-8 replaced by U+FFFD.
std::string repairUtf8(std::string_view bytes);

}  // namespace kestrine
