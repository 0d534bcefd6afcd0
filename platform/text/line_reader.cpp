#include "platform/text/line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/text/wipe.h"

namespace kestrine {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";

// The most UTF-8 that one buffer of UTF-16 turns into, with a unit carried
// over from the piece before and what the end of the text adds.
constexpr std::size_t kDecodedBytes = 3 * LineReader::kBufferBytes / 2 + 16;

bool isLineEnd(char c) {
  return c == '\n' || c == '\r';
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string hex(unsigned value, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// What stands at `at` of UTF-16 text turned into UTF-8 that is no text (see
// Utf16Decoder).
std::string utf16Fault(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned>(text[at + i]) & 0xFF; };
  if (byte(0) != 0xED) return "an odd byte at the end of the file";
  return "code unit " +
         hex(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F), 4);
}

}  // namespace

LineReader::LineReader(std::unique_ptr<ByteSource> source,
                       std::unique_ptr<CodePageDecoder> codePage, std::string name)
    : source_(std::move(source)), codePage_(std::move(codePage)), name_(std::move(name)) {}

LineReader::~LineReader() {
  wipeBuffers();
}

void LineReader::Close() {
  source_.reset();
  wipeBuffers();
}

void LineReader::wipeBuffers() {
  wipe(raw_.data(), raw_.size());
  wipe(decoded_);
  position_ = filled_ = 0;
}

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
    char* start = text_ + position_;
    char* end = text_ + filled_;
    char* lineEnd = std::find_if(start, end, isLineEnd);
    const auto length = static_cast<std::size_t>(lineEnd - start);
    position_ += length;
    if (!tooLong && line.size() + length > kMaxLineBytes) {
      tooLong = true;
      wipe(line);  // the rest is passed over, not kept
    }
    if (!tooLong) appendWiping(line, std::string_view(start, length));
    wipe(start, length);
    if (lineEnd != end) {
      skipLineEnd();
      break;
    }
    if (!available()) break;
  }
  if (tooLong) throw LineTooLong();
  return textOf(line);
}

// The line's text as the file's start and the line itself decide.
std::string LineReader::textOf(std::string& line) {
  const std::size_t invalid = invalidUtf8At(line);
  // No text in a real name is UTF-8 by accident.
  const bool utf8 = utf16_ || utf8_ || !isAscii(line);
  if (utf8 && invalid == std::string_view::npos) return std::move(line);

  WipeOnExit wipeLine(line);
  std::optional<BadByte> bad;
  std::string reason;
  std::string text;
  if (utf16_ || utf8_) {
    text = repairUtf8(line, bad);
    reason = utf16_ ? "not text in UTF-16 (" + utf16Fault(line, invalid) + ")"
                    : "not text in UTF-8 (byte " + hex(bad->value, 2) + ")";
    reason += "; save the file as UTF-8";
  } else {
    text = codePage_->decode(line, bad);
    if (!bad) return text;
    const std::string codePage = codePage_->name();
    reason = "not text in " + (codePage == "UTF-8" ? codePage : "UTF-8 or " + codePage) +
             " (byte " + hex(bad->value, 2) + "); " + codePage_->remedy();
  }
  throw NotText(std::move(text), bad->offset, reason);
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
    std::size_t from = 0;  // past a byte-order mark
    std::size_t got = 0;
    if (!started_) {
      got = readStart();
      from = takeByteOrderMark(std::string_view(raw_.data(), got));
      started_ = true;
    } else {
      got = readSource(0);
    }
    if (utf16_) {
      wipe(decoded_);
      utf16_->decode(std::string_view(raw_.data() + from, got - from), decoded_);
      if (ended_) utf16_->finish(decoded_);
      wipe(raw_.data(), got);
      text_ = decoded_.data();
      filled_ = decoded_.size();
    } else {
      text_ = raw_.data() + from;
      filled_ = got - from;
    }
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
    decoded_.reserve(kDecodedBytes);  // so that it never moves, leaving a copy behind
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
