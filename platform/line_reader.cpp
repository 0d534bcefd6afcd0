#include "platform/line_reader.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kestrine {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";

bool isLineEnd(char c) {
  return c == '\n' || c == '\r';
}

}  // namespace

LineReader::LineReader(std::unique_ptr<ByteSource> source,
                       std::unique_ptr<CodePageDecoder> codePage, std::string name)
    : source_(std::move(source)), codePage_(std::move(codePage)), name_(std::move(name)) {}

bool LineReader::AtEndOfStream() {
  requireOpen();
  return !available();
}

std::string LineReader::ReadLine() {
  requireOpen();
  if (!available()) throw FileError(ENODATA, "read past the end of " + name_);
  std::string line;
  bool tooLong = false;
  for (;;) {
    const char* start = text_ + position_;
    const char* end = text_ + filled_;
    const char* lineEnd = std::find_if(start, end, isLineEnd);
    const auto length = static_cast<std::size_t>(lineEnd - start);
    position_ += length;
    if (!tooLong && line.size() + length > kMaxLineBytes) {
      tooLong = true;
      std::string().swap(line);  // the rest is passed over, not kept
    }
    if (!tooLong) line.append(start, length);
    if (lineEnd != end) {
      skipLineEnd();
      break;
    }
    if (!available()) break;
  }
  if (tooLong) throw LineTooLong();
  if (utf16_) return line;  // UTF-8 already
  if (utf8_) return repairUtf8(line);
  return codePage_->decode(line);
}

void LineReader::requireOpen() const {
  if (!source_) throw FileError(EBADF, "read " + name_ + " after it was closed");
}

// Passes over the line end at the position: LF, CR LF or a lone CR.
void LineReader::skipLineEnd() {
  const char terminator = text_[position_++];
  if (terminator == '\r' && available() && text_[position_] == '\n') ++position_;
}

// Refills the buffer with the file's next text; false at its end.
bool LineReader::fill() {
  text_ = raw_.data();
  position_ = 0;
  filled_ = 0;
  // A piece may hold no text: a byte-order mark alone, half a code unit.
  while (filled_ == 0 && !ended_) {
    std::string_view bytes;
    if (!started_) {
      bytes = std::string_view(raw_.data(), readStart());
      bytes.remove_prefix(takeByteOrderMark(bytes));
      started_ = true;
    } else {
      bytes = std::string_view(raw_.data(), readSource(0));
    }
    if (utf16_) {
      decoded_.clear();
      utf16_->decode(bytes, decoded_);
      if (ended_) utf16_->finish(decoded_);
      bytes = decoded_;
    }
    text_ = bytes.data();
    filled_ = bytes.size();
  }
  return filled_ > 0;
}

// Reads the source's next piece into raw_ from `offset`.
std::size_t LineReader::readSource(std::size_t offset) {
  const std::size_t got = source_->read(raw_.data() + offset, raw_.size() - offset);
  if (got == 0) ended_ = true;
  return got;
}

// The file's first bytes, enough to hold any byte-order mark unless the file
// is shorter: a source may hand them out one at a time.
std::size_t LineReader::readStart() {
  std::size_t have = 0;
  while (have < kUtf8ByteOrderMark.size() && !ended_) have += readSource(have);
  return have;
}

// The length of the byte-order mark at the start of the file, which also
// decides how the file is decoded.
std::size_t LineReader::takeByteOrderMark(std::string_view start) {
  // Windows editors write "Unicode" text as UTF-16 with a byte-order mark.
  if (start.starts_with(kUtf16LeByteOrderMark) || start.starts_with(kUtf16BeByteOrderMark)) {
    utf16_.emplace(start.starts_with(kUtf16BeByteOrderMark));
    return kUtf16LeByteOrderMark.size();
  }
  // Spreadsheet programs start UTF-8 files with a byte-order mark; the code
  // page would misread what follows.
  if (start.starts_with(kUtf8ByteOrderMark)) {
    utf8_ = true;
    return kUtf8ByteOrderMark.size();
  }
  return 0;
}

}  // namespace kestrine
