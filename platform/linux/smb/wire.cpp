#include "platform/linux/smb/wire.h"

namespace kestrine::smb {

void WireReader::check(std::size_t offset, std::size_t length) const {
  if (offset > data_.size() || length > data_.size() - offset) {
    fail("a field at offset " + std::to_string(offset) + " of " + std::to_string(length) +
         " bytes lies past the end of its " + std::to_string(data_.size()) + " bytes");
  }
}

void WireReader::fail(const std::string& reason) const {
  throw MalformedReply(what_ + ": " + reason);
}

void WireReader::expectStructureSize(std::size_t offset, std::uint16_t expected) const {
  const std::uint16_t size = u16(offset);
  if (size != expected) {
    fail("StructureSize is " + std::to_string(size) + ", not " + std::to_string(expected));
  }
}

std::uint8_t WireReader::u8(std::size_t offset) const {
  check(offset, 1);
  return data_[offset];
}

std::uint16_t WireReader::u16(std::size_t offset) const {
  check(offset, 2);
  return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
}

std::uint32_t WireReader::u32(std::size_t offset) const {
  check(offset, 4);
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = (value << 8) | data_[offset + i];
  return value;
}

std::uint64_t WireReader::u64(std::size_t offset) const {
  check(offset, 8);
  std::uint64_t value = 0;
  for (std::size_t i = 8; i-- > 0;) value = (value << 8) | data_[offset + i];
  return value;
}

ByteView WireReader::bytes(std::size_t offset, std::size_t length) const {
  check(offset, length);
  return data_.subspan(offset, length);
}

WireReader WireReader::sub(std::size_t offset, std::size_t length, std::string what) const {
  return WireReader(bytes(offset, length), std::move(what));
}

std::string WireReader::utf16(std::size_t offset, std::size_t length) const {
  const ByteView raw = bytes(offset, length);
  if (length % 2 != 0) fail("a name of an odd number of bytes (" + std::to_string(length) + ")");
  std::string out;
  out.reserve(length / 2);
  for (std::size_t i = 0; i < raw.size(); i += 2) {
    char32_t code = static_cast<char32_t>(raw[i] | (raw[i + 1] << 8));
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 3 >= raw.size()) fail("a name ends in half a surrogate pair");
      const char32_t low = static_cast<char32_t>(raw[i + 2] | (raw[i + 3] << 8));
      if (low < 0xDC00 || low > 0xDFFF) fail("a name holds an unpaired surrogate");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      fail("a name holds an unpaired surrogate");
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

void WireWriter::u16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value));
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void WireWriter::u32(std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void WireWriter::u64(std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void WireWriter::align(std::size_t alignment) {
  while (bytes_.size() % alignment != 0) bytes_.push_back(0);
}

void WireWriter::utf16(std::string_view utf8) {
  const Bytes encoded = toUtf16(utf8);
  bytes(encoded);
}

void WireWriter::patchU16(std::size_t offset, std::uint16_t value) {
  bytes_.at(offset + 1);
  bytes_[offset] = static_cast<std::uint8_t>(value);
  bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void patchU32(Bytes& message, std::size_t offset, std::uint32_t value) {
  message.at(offset + 3);
  for (int i = 0; i < 4; ++i) message[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void patchU64(Bytes& message, std::size_t offset, std::uint64_t value) {
  message.at(offset + 7);
  for (int i = 0; i < 8; ++i) message[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes toUtf16(std::string_view utf8) {
  Bytes out;
  out.reserve(utf8.size() * 2);
  auto unit = [&out](char32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  auto bad = [] { throw std::invalid_argument("a name that is not UTF-8 text"); };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      length = 1, code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      bad();
    }
    if (length > utf8.size() - i) bad();
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) bad();
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) bad();
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(0xD800 + (code >> 10));
      unit(0xDC00 + (code & 0x3FF));
    } else {
      unit(code);
    }
    i += length;
  }
  return out;
}

std::string toHex(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xF]);
  }
  return out;
}

}  // namespace kestrine::smb
