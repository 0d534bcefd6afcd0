#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/text/utf16_decoder.h"

namespace kestrine {

// An open file's bytes, as the platform reads them.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`; 0 at the end. Throws FileError.
  virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

// Turns one line in the system's code page into UTF-8.
class CodePageDecoder {
 public:
  virtual ~CodePageDecoder() = default;
  // The line's text. A byte that is no character in the code page comes out
  // as U+FFFD and `bad` gets the first one: the text is then only shown.
  virtual std::string decode(std::string_view bytes, std::optional<BadByte>& bad) = 0;
  // The code page as messages name it: "UTF-8", "code page 1252".
  virtual std::string name() const = 0;
  // What the administrator can do about a file that is no text in it.
  virtual std::string remedy() const = 0;
};

// A text stream over any byte source. The first bytes choose the decoding: a
// UTF-16 byte-order mark (either order) reads UTF-16, a UTF-8 one reads UTF-8
// and is dropped. Without a mark each line decides: one that is UTF-8 and not
// plain ASCII reads as UTF-8, any other goes through the code page. A line
// with bytes that are no text in its character set is never handed out with
// them replaced: it throws NotText. Lines end at LF, CR LF or a lone CR.
// Reading goes through a fixed buffer, so memory does not grow with the file
// or with a line past kMaxLineBytes; each line's bytes are wiped from the
// buffers once it is read, and the rest when the stream is closed.
class LineReader : public TextStream {
 public:
  static constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

  // `name` is the file's name for error texts.
  LineReader(std::unique_ptr<ByteSource> source, std::unique_ptr<CodePageDecoder> codePage,
             std::string name);
  ~LineReader() override;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool AtEndOfStream() override;
  std::string ReadLine() override;
  // Closes the source; reading afterwards fails.
  void Close() override;

 private:
  void requireOpen() const;
  std::string textOf(std::string& line);
  void wipeBuffers();
  bool available() { return position_ < filled_ || fill(); }
  bool fill();
  std::size_t readSource(std::size_t offset);
  std::size_t readStart();
  std::size_t takeByteOrderMark(std::string_view start);
  void skipLineEnd();

  std::unique_ptr<ByteSource> source_;  // none once closed
  std::unique_ptr<CodePageDecoder> codePage_;
  std::string name_;
  std::optional<Utf16Decoder> utf16_;  // set by a UTF-16 byte-order mark
  bool utf8_ = false;                  // set by a UTF-8 byte-order mark
  bool started_ = false;
  bool ended_ = false;  // the source said 0 and is not asked again
  std::array<char, kBufferBytes> raw_{};
  std::string decoded_;       // UTF-16 turned into UTF-8
  char* text_ = raw_.data();  // into raw_ or decoded_
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace kestrine
