#include "platform/linux/text_decoder.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <stdexcept>

#include "platform/text/utf16_decoder.h"
#include "platform/text/wipe.h"

namespace kestrine {

namespace {

std::string canonicalName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

bool readsAsUtf8(const std::string& charset) {
  const std::string name = canonicalName(charset);
  return name.empty() || name == "UTF8" || name == "ANSIX341968" || name == "ASCII" ||
         name == "USASCII";
}

}  // namespace

std::string TextDecoder::localeCharset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (!locale) return "UTF-8";  // an unknown locale name: read as the usual Linux default
  std::string charset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return charset;
}

TextDecoder::TextDecoder(const std::string& charset) : charset_(charset) {
  if (readsAsUtf8(charset)) return;
  converter_ = iconv_open("UTF-8", charset.c_str());
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {  // iconv's failure value
    converter_ = nullptr;
    throw std::runtime_error("the character set " + charset + " is not known to iconv");
  }
}

TextDecoder::~TextDecoder() {
  if (converter_) iconv_close(converter_);
}

std::string TextDecoder::decode(std::string_view bytes, std::optional<BadByte>& bad) {
  if (isUtf8()) return repairUtf8(bytes, bad);
  std::string out;
  out.reserve(3 * bytes.size());
  char buffer[1024];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  iconv(converter_, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(converter_, &in, &inLeft, &outPtr, &outLeft);
    appendCodePageText(out, std::string_view(buffer, static_cast<std::size_t>(outPtr - buffer)),
                       bad);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // EILSEQ or a sequence cut off at the end of the line: one byte goes.
      if (!bad) bad = BadByte{out.size(), static_cast<unsigned char>(*in)};
      appendWiping(out, kReplacementCharacter);
      ++in;
      --inLeft;
      iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    }
  }
  wipe(buffer, sizeof buffer);
  return out;
}

}  // namespace kestrine
