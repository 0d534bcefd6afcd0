#include "platform/text/utf16_decoder.h"

#include <utility>

#include "platform/text/wipe.h"

namespace kestrine {

namespace {

// An odd byte at the end of UTF-16 text; UTF-8 never holds it.
constexpr char kOddByte = '\xFF';

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t validSequence(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto continuation = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const unsigned char lead = b(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && b(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && b(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && b(1) >= 0x90) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

void appendUtf8(char32_t code, std::string& out) {
  const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (code < 0x80) {
    out += byte(code);
  } else if (code < 0x800) {
    out += byte(0xC0 | (code >> 6));
    out += byte(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += byte(0xE0 | (code >> 12));
    out += byte(0x80 | ((code >> 6) & 0x3F));
    out += byte(0x80 | (code & 0x3F));
  } else {
    out += byte(0xF0 | (code >> 18));
    out += byte(0x80 | ((code >> 12) & 0x3F));
    out += byte(0x80 | ((code >> 6) & 0x3F));
    out += byte(0x80 | (code & 0x3F));
  }
}

bool isHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void Utf16Decoder::decode(std::string_view bytes, std::string& out) {
  const auto unitOf = [&](unsigned char first, unsigned char second) {
    return static_cast<char16_t>(bigEndian_ ? (first << 8) | second : (second << 8) | first);
  };
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0;
  if (oddByte_ && !bytes.empty()) {
    decodeUnit(unitOf(*oddByte_, at(0)), out);
    oddByte_.reset();
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2) decodeUnit(unitOf(at(i), at(i + 1)), out);
  if (i < bytes.size()) oddByte_ = at(i);
}

void Utf16Decoder::finish(std::string& out) {
  if (highSurrogate_ != 0) appendUtf8(highSurrogate_, out);
  if (oddByte_) out += kOddByte;
  highSurrogate_ = 0;
  oddByte_.reset();
}

void Utf16Decoder::decodeUnit(char16_t unit, std::string& out) {
  if (highSurrogate_ != 0) {
    const char16_t high = std::exchange(highSurrogate_, 0);
    if (isLowSurrogate(unit)) {
      appendUtf8(0x10000 + (char32_t{high} - 0xD800) * 0x400 + (char32_t{unit} - 0xDC00), out);
      return;
    }
    appendUtf8(high, out);  // unpaired: three bytes that are no UTF-8
  }
  if (isHighSurrogate(unit)) {
    highSurrogate_ = unit;
  } else {
    appendUtf8(unit, out);  // an unpaired low surrogate too
  }
}

std::size_t invalidUtf8At(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = validSequence(bytes.substr(i));
    if (length == 0) return i;
    i += length;
  }
  return std::string_view::npos;
}

std::string repairUtf8(std::string_view bytes, std::optional<BadByte>& bad) {
  std::string out;
  // Room for a U+FFFD in place of every byte: the buffer never moves, and
  // no copy of the text is left behind unwiped.
  out.reserve(3 * bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = validSequence(bytes);
    if (length == 0) {
      if (!bad) bad = BadByte{out.size(), static_cast<unsigned char>(bytes.front())};
      out += kReplacementCharacter;
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  return out;
}

void appendCodePageText(std::string& out, std::string_view utf8, std::optional<BadByte>& bad) {
  for (;;) {
    std::size_t control = utf8.find('\xC2');  // the lead byte of U+0080-U+00BF
    while (control != std::string_view::npos &&
           (control + 1 == utf8.size() || static_cast<unsigned char>(utf8[control + 1]) > 0x9F)) {
      control = utf8.find('\xC2', control + 2);
    }
    appendWiping(out, utf8.substr(0, control));
    if (control == std::string_view::npos) return;
    if (!bad) bad = BadByte{out.size(), static_cast<unsigned char>(utf8[control + 1])};
    appendWiping(out, kReplacementCharacter);
    utf8.remove_prefix(control + 2);
  }
}

}  // namespace kestrine
