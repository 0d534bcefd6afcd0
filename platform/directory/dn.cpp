#include "platform/directory/dn.h"

#include <cstddef>
#include <vector>

#include "platform/directory.h"
#include "platform/text/printable.h"
#include "platform/text/utf16_decoder.h"

namespace kestrine {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string hexByte(unsigned char byte) {
  return {'\\', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
}

// The blanks LDAP parsers drop around separators; a value keeps them only
// escaped at either end.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Well-formed UTF-8, since the name must also become UTF-16 on Windows.
bool isUtf8(std::string_view text) {
  return invalidUtf8At(text) == std::string_view::npos;
}

// The text for an error message: control characters and stray bytes as \XX,
// so that the message stays one printable line.
std::string quoted(std::string_view text) {
  const bool utf8 = isUtf8(text);
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isControlCharacter(c) || (byte >= 0x80 && !utf8)) {
      out += hexByte(byte);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

[[noreturn]] void refuse(std::string_view text, const char* what) {
  throw DirectoryError(kInvalidDnSyntax, quoted(text) + what);
}

// Reads a distinguished name into its relative names, each already in
// canonical form.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::vector<std::string> relativeNames() {
    std::vector<std::string> names;
    if (text_.empty()) return names;
    std::string name;
    while (true) {
      name += attributeValueAssertion();
      if (atEnd()) break;
      const char separator = text_[pos_++];
      if (separator == '+') {
        name += '+';
      } else if (separator == ',') {
        names.push_back(std::move(name));
        name.clear();
      } else {
        fail();
      }
    }
    names.push_back(std::move(name));
    return names;
  }

 private:
  [[noreturn]] void fail() const { refuse(text_, " is not a distinguished name"); }

  bool atEnd() const { return pos_ == text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }
  void skipBlanks() {
    while (!atEnd() && isBlank(text_[pos_])) ++pos_;
  }

  std::string attributeValueAssertion() {
    skipBlanks();
    std::string ava(attributeType());
    skipBlanks();
    if (peek() != '=') fail();
    ++pos_;
    skipBlanks();
    ava += '=';
    ava += peek() == '#' ? hexValueText() : escapeDnValue(stringValue());
    skipBlanks();
    return ava;
  }

  // A keyword ("OU", "x-attr") or a dotted number ("2.5.4.11"). Options
  // (";binary") are refused: they have no place in a name.
  std::string_view attributeType() {
    const std::size_t start = pos_;
    if (isAlpha(peek())) {
      while (isAlpha(peek()) || isDigit(peek()) || peek() == '-') ++pos_;
    } else if (isDigit(peek())) {
      while (true) {
        while (isDigit(peek())) ++pos_;
        if (peek() != '.') break;
        ++pos_;
        if (!isDigit(peek())) fail();
      }
    } else {
      fail();
    }
    return text_.substr(start, pos_ - start);
  }

  // "#" and the hex digits of a BER encoding, kept as bytes (uppercase).
  std::string hexValueText() {
    std::string value = "#";
    ++pos_;
    while (hexValue(peek()) >= 0) {
      if (pos_ + 1 >= text_.size() || hexValue(text_[pos_ + 1]) < 0) fail();
      value += kHexDigits[hexValue(text_[pos_])];
      value += kHexDigits[hexValue(text_[pos_ + 1])];
      pos_ += 2;
    }
    if (value.size() == 1) fail();
    return value;
  }

  // The value's bytes, escapes undone, unescaped blanks at its end dropped.
  std::string stringValue() {
    std::string value;
    std::size_t kept = 0;  // the value's length up to its last significant byte
    while (!atEnd() && peek() != ',' && peek() != '+') {
      const char c = text_[pos_++];
      if (c == '\\') {
        value += escapedByte();
        kept = value.size();
        continue;
      }
      if (c == '\0' || c == '"' || c == ';' || c == '<' || c == '>') fail();
      value += c;
      if (!isBlank(c)) kept = value.size();
    }
    value.resize(kept);
    if (!isUtf8(value)) fail();
    return value;
  }

  char escapedByte() {
    const char c = peek();
    if (hexValue(c) >= 0 && pos_ + 1 < text_.size() && hexValue(text_[pos_ + 1]) >= 0) {
      pos_ += 2;
      return static_cast<char>(hexValue(c) * 16 + hexValue(text_[pos_ - 1]));
    }
    // RFC 4514's escapable characters, plus the blanks libldap also takes.
    constexpr std::string_view kEscapable = " \t\n\r\"#+,;<=>\\";
    if (atEnd() || kEscapable.find(c) == std::string_view::npos) fail();
    ++pos_;
    return c;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string joined(const std::vector<std::string>& names) {
  std::string dn;
  for (const std::string& name : names) {
    if (!dn.empty()) dn += ',';
    dn += name;
  }
  return dn;
}

}  // namespace

std::string escapeDnValue(std::string_view value) {
  if (!isUtf8(value)) refuse(value, " is not UTF-8 text");
  std::string escaped;
  escaped.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    constexpr std::string_view kSpecial = "\"+,;<=>\\";
    const bool special = c == '\0' || kSpecial.find(c) != std::string_view::npos;
    // A leading '#' would start a hex value; blanks at either end would be
    // dropped as insignificant.
    const bool atLead = i == 0 && (c == '#' || isBlank(c));
    const bool atTail = i + 1 == value.size() && isBlank(c);
    if (special || atLead || atTail) {
      escaped += hexByte(static_cast<unsigned char>(c));
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string normalizeDn(std::string_view dn) {
  return joined(Parser(dn).relativeNames());
}

std::string childDn(std::string_view relativeName, std::string_view parentDn) {
  std::vector<std::string> names = Parser(relativeName).relativeNames();
  if (names.size() != 1) refuse(relativeName, " is not a single relative name");
  for (std::string& name : Parser(parentDn).relativeNames()) names.push_back(std::move(name));
  return joined(names);
}

std::string adsPath(std::string_view dn) {
  const std::string canonical = normalizeDn(dn);
  if (canonical.empty()) refuse(dn, " names no object");
  std::string path = "LDAP://";
  for (const char c : canonical) {
    if (c == '/') path += '\\';
    path += c;
  }
  return path;
}

}  // namespace kestrine
