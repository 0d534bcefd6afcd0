#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::smb {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// A reply that does not hold what it claims: a length or an offset past its
// end, a field of the wrong size, a value the protocol does not allow. The
// reply is refused and nothing of it is used.
class MalformedReply : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bounded view of a received message. Every read names its offset from the
// start of the view and is checked against the view's end first; a read that
// does not fit throws MalformedReply naming `what` ("the CREATE response").
class WireReader {
 public:
  WireReader(ByteView data, std::string what) : data_(data), what_(std::move(what)) {}

  std::size_t size() const { return data_.size(); }
  ByteView data() const { return data_; }
  const std::string& what() const { return what_; }

  std::uint8_t u8(std::size_t offset) const;
  std::uint16_t u16(std::size_t offset) const;
  std::uint32_t u32(std::size_t offset) const;
  std::uint64_t u64(std::size_t offset) const;
  ByteView bytes(std::size_t offset, std::size_t length) const;
  // A part of the view as a view of its own, offsets then counting from its
  // start.
  WireReader sub(std::size_t offset, std::size_t length, std::string what) const;
  WireReader sub(std::size_t offset, std::size_t length) const {
    return sub(offset, length, what_);
  }
  // UTF-16LE text turned into UTF-8; an odd length or an unpaired surrogate
  // is refused.
  std::string utf16(std::size_t offset, std::size_t length) const;

  // Throws MalformedReply: "<what>: <reason>".
  [[noreturn]] void fail(const std::string& reason) const;
  // Requires a fixed StructureSize at `offset` ([MS-SMB2] 2.2: every request
  // and response starts with it).
  void expectStructureSize(std::size_t offset, std::uint16_t expected) const;

 private:
  void check(std::size_t offset, std::size_t length) const;

  ByteView data_;
  std::string what_;
};

void patchU32(Bytes& message, std::size_t offset, std::uint32_t value);

// Builds a message in little-endian order, as SMB2 sends every integer.
class WireWriter {
 public:
  void u8(std::uint8_t value) { bytes_.push_back(value); }
  void u16(std::uint16_t value);
  void u32(std::uint32_t value);
  void u64(std::uint64_t value);
  void bytes(ByteView data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  // Zeros up to the next multiple of `alignment` from the start.
  void align(std::size_t alignment);
  // UTF-8 text as UTF-16LE, without a terminator; text that is no UTF-8 is
  // refused with std::invalid_argument.
  void utf16(std::string_view utf8);

  void patchU16(std::size_t offset, std::uint16_t value);
  void patchU32(std::size_t offset, std::uint32_t value) { smb::patchU32(bytes_, offset, value); }

  std::size_t size() const { return bytes_.size(); }
  const Bytes& data() const { return bytes_; }
  Bytes take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

// The UTF-16LE bytes of UTF-8 text (std::invalid_argument for text that is
// no UTF-8).
Bytes toUtf16(std::string_view utf8);

// Writes a little-endian value into a message already built, at `offset`
// (std::out_of_range past its end).
void patchU32(Bytes& message, std::size_t offset, std::uint32_t value);
void patchU64(Bytes& message, std::size_t offset, std::uint64_t value);

// Hex of bytes, for messages and tests: "0a1b".
std::string toHex(ByteView bytes);

}  // namespace kestrine::smb
