#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

#include "platform/text/line_reader.h"

namespace kestrine {

// Turns text in a character set into UTF-8 through iconv. The default is the
// locale's character set, the system's code page on Linux.
class TextDecoder : public CodePageDecoder {
 public:
  // The character set of the environment's locale (LC_ALL, LC_CTYPE, LANG).
  // A locale that names plain ASCII (the C locale) reads UTF-8, its superset.
  static std::string localeCharset();

  explicit TextDecoder(const std::string& charset = localeCharset());
  ~TextDecoder() override;
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  bool isUtf8() const { return converter_ == nullptr; }
  std::string decode(std::string_view bytes, std::optional<BadByte>& bad) override;
  std::string name() const override { return isUtf8() ? "UTF-8" : charset_; }
  // The locale can name another character set for one run.
  std::string remedy() const override {
    return "save the file as UTF-8, or start Kestrine with the file's character set (LC_ALL=...)";
  }

 private:
  std::string charset_;
  iconv_t converter_ = nullptr;  // none: the text is UTF-8 already
};

}  // namespace kestrine
