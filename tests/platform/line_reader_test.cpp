#include "platform/line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/utf16_decoder.h"
#include "tests/platform/utf16_text.h"

namespace kestrine {
namespace {

using Lines = std::vector<std::string>;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// What a source went through, kept past the reader's life.
struct SourceLog {
  bool closed = false;
  int readsAfterEnd = 0;
};

// A file in memory handed out in pieces of at most `piece` bytes. With
// `failAt`, the bytes up to that offset come out and the next read fails.
class MemorySource : public ByteSource {
 public:
  MemorySource(std::string bytes, std::size_t piece, SourceLog* log = nullptr,
               std::optional<std::size_t> failAt = std::nullopt)
      : bytes_(std::move(bytes)), piece_(piece), log_(log), failAt_(failAt) {}
  ~MemorySource() override {
    if (log_) log_->closed = true;
  }

  std::size_t read(char* buffer, std::size_t size) override {
    if (failAt_ && offset_ >= *failAt_) throw FileError(EIO, "read users.csv: the device is gone");
    std::size_t n = std::min({size, piece_, bytes_.size() - offset_});
    if (failAt_) n = std::min(n, *failAt_ - offset_);
    if (n == 0 && ended_ && log_) ++log_->readsAfterEnd;
    ended_ = n == 0;
    std::copy_n(bytes_.data() + offset_, n, buffer);
    offset_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t piece_;
  SourceLog* log_;
  std::optional<std::size_t> failAt_;
  std::size_t offset_ = 0;
  bool ended_ = false;
};

// ISO 8859-1, a code page whose every byte is a character; keeps the lines
// it was given.
class Latin1Decoder : public CodePageDecoder {
 public:
  explicit Latin1Decoder(Lines* seen = nullptr) : seen_(seen) {}
  std::string decode(std::string_view bytes) override {
    if (seen_) seen_->emplace_back(bytes);
    std::string out;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        out += c;
      } else {
        out += static_cast<char>(0xC0 | (byte >> 6));
        out += static_cast<char>(0x80 | (byte & 0x3F));
      }
    }
    return out;
  }

 private:
  Lines* seen_;
};

std::unique_ptr<LineReader> reader(const std::string& bytes,
                                   std::size_t piece = LineReader::kBufferBytes,
                                   SourceLog* log = nullptr,
                                   std::optional<std::size_t> failAt = std::nullopt,
                                   Lines* seen = nullptr) {
  return std::make_unique<LineReader>(std::make_unique<MemorySource>(bytes, piece, log, failAt),
                                      std::make_unique<Latin1Decoder>(seen), "users.csv");
}

Lines readAll(const std::string& bytes, std::size_t piece = LineReader::kBufferBytes,
              Lines* seen = nullptr) {
  auto stream = reader(bytes, piece, nullptr, std::nullopt, seen);
  Lines lines;
  while (!stream->AtEndOfStream()) lines.push_back(stream->ReadLine());
  return lines;
}

// A source may hand out any number of bytes, even one at a time: the pieces
// may cut a byte-order mark, a CR LF or a UTF-16 pair in two.
TEST(LineReader, SameLinesWhateverPiecesTheSourceHandsOut) {
  struct Case {
    std::string bytes;
    Lines expected;
  };
  const Lines utf16Lines{"jdoe,Z\xC3\xBCrich \xF0\x9F\x98\x80", "kroe", "", "last"};
  const std::u16string utf16Text = u"jdoe,Z\u00FCrich \U0001F600\r\nkroe\r\rlast\r";
  const Case cases[] = {
      {"jdoe,Z\xFCrich\r\nkroe\rlast\r\r\nx\r", {"jdoe,Z\xC3\xBCrich", "kroe", "last", "", "x"}},
      {"\xEF\xBB\xBFjdoe,Z\xC3\xBCrich\r\nkroe", {"jdoe,Z\xC3\xBCrich", "kroe"}},
      {utf16(utf16Text, false), utf16Lines},
      {utf16(utf16Text, true), utf16Lines},
  };
  for (const Case& c : cases) {
    for (std::size_t piece = 1; piece <= c.bytes.size() + 1; ++piece) {
      EXPECT_EQ(readAll(c.bytes, piece), c.expected) << "pieces of " << piece;
    }
  }
}

TEST(LineReader, ByteOrderMarkOnlyWhenTheWholeMarkStartsTheFile) {
  for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, LineReader::kBufferBytes}) {
    // Files shorter than a mark, or holding part of one, are code page text.
    EXPECT_EQ(readAll("\xFF", piece), Lines{"\xC3\xBF"});
    EXPECT_EQ(readAll("\xEF\xBB", piece), Lines{"\xC3\xAF\xC2\xBB"});
    EXPECT_EQ(readAll("\xEF\xBB\n\xBF", piece), (Lines{"\xC3\xAF\xC2\xBB", "\xC2\xBF"}));
    // A mark alone is an empty file.
    EXPECT_EQ(readAll("\xFF\xFE", piece), Lines{});
    EXPECT_EQ(readAll("\xEF\xBB\xBF", piece), Lines{});
    // An odd byte after a UTF-16 mark.
    EXPECT_EQ(readAll(std::string("\xFE\xFF") + "a", piece), Lines{std::string(kReplacement)});
    // A second mark is text: U+FEFF.
    EXPECT_EQ(readAll("\xEF\xBB\xBF\xEF\xBB\xBF", piece), Lines{"\xEF\xBB\xBF"});
  }
}

TEST(LineReader, Utf8ByteOrderMarkReadsUtf8WhateverTheCodePage) {
  Lines seen;
  EXPECT_EQ(readAll("\xEF\xBB\xBFZ\xC3\xBCrich\n\xFC", LineReader::kBufferBytes, &seen),
            (Lines{"Z\xC3\xBCrich", std::string(kReplacement)}));
  EXPECT_EQ(seen, Lines{});
  // Without the mark the same bytes are the code page's.
  EXPECT_EQ(readAll("Z\xC3\xBCrich", LineReader::kBufferBytes, &seen),
            Lines{"Z\xC3\x83\xC2\xBCrich"});
}

TEST(LineReader, CodePageDecodesEachLineWithoutItsLineEnd) {
  Lines seen;
  readAll("a\r\nb\rc\n\nd", 1, &seen);
  EXPECT_EQ(seen, (Lines{"a", "b", "c", "", "d"}));
  seen.clear();
  readAll(utf16(u"a\nb", false), 1, &seen);
  EXPECT_EQ(seen, Lines{});  // UTF-16 never goes through the code page
}

// The cap holds for the UTF-8 that UTF-16 turns into, and reading goes on
// after the overlong line whatever the pieces.
TEST(LineReader, OverlongUtf16LineFailsAndReadingGoesOnAfterIt) {
  const std::u16string longest(kMaxLineBytes / 2, u'\u00E9');  // two UTF-8 bytes each
  const std::string bytes = utf16(longest + u"\r\n" + longest + u"\u00E9\r\nnext", false);
  for (const std::size_t piece : {std::size_t{4099}, LineReader::kBufferBytes}) {
    auto stream = reader(bytes, piece);
    EXPECT_EQ(stream->ReadLine().size(), kMaxLineBytes);
    EXPECT_THROW(stream->ReadLine(), LineTooLong);
    EXPECT_EQ(stream->ReadLine(), "next");
    EXPECT_TRUE(stream->AtEndOfStream());
  }
}

TEST(LineReader, FailedReadReachesTheCallerAfterTheLinesBeforeIt) {
  auto stream = reader("a\nb\nccc\nd\n", 2, nullptr, 5);
  EXPECT_EQ(stream->ReadLine(), "a");
  EXPECT_EQ(stream->ReadLine(), "b");
  try {
    stream->ReadLine();
    FAIL() << "a failed read passed as the end of the file";
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), EIO);
    EXPECT_STREQ(e.what(), "read users.csv: the device is gone");
  }
  // Failing inside a byte-order mark does not make the file code page text.
  const std::string utf16Start = std::string("\xFF\xFE") + "a";
  EXPECT_THROW(reader(utf16Start, 1, nullptr, 1)->AtEndOfStream(), FileError);
  EXPECT_THROW(reader("a", 1, nullptr, 0)->AtEndOfStream(), FileError);
}

TEST(LineReader, EndIsFinalAndReadingPastItFails) {
  SourceLog log;
  auto stream = reader("a\r", 1, &log);
  EXPECT_EQ(stream->ReadLine(), "a");
  EXPECT_TRUE(stream->AtEndOfStream());
  EXPECT_TRUE(stream->AtEndOfStream());
  try {
    stream->ReadLine();
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), ENODATA);
    EXPECT_THAT(e.what(), testing::HasSubstr("users.csv"));
  }
  EXPECT_EQ(log.readsAfterEnd, 0);
}

TEST(LineReader, CloseReleasesTheSourceAndLaterReadsFail) {
  SourceLog log;
  auto stream = reader("a\nb\n", LineReader::kBufferBytes, &log);
  EXPECT_EQ(stream->ReadLine(), "a");
  stream->Close();
  EXPECT_TRUE(log.closed);  // the file is closed now, not when the stream goes
  for (int i = 0; i < 2; ++i) {
    try {
      stream->ReadLine();
      FAIL();
    } catch (const FileError& e) {
      EXPECT_EQ(e.code(), EBADF);
    }
    EXPECT_THROW(stream->AtEndOfStream(), FileError);
    stream->Close();  // closing twice is harmless
  }
}

TEST(TextDecoder, RepairUtf8RejectsOverlongSurrogateAndTruncatedSequences) {
  EXPECT_EQ(repairUtf8("ok \xE2\x82\xAC \xF0\x9F\x98\x80"), "ok \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(repairUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("a\xE2\x82"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

// A file is read in pieces that may cut a code unit or a pair in two.
TEST(Utf16Decoder, DecodesTheSameWhereverThePiecesAreCut) {
  const std::string bytes(
      "a\0\x3D\xD8\x00\xDE\xFC\x00\x00\xDE"
      "b",
      11);
  const std::string expected = "a\xF0\x9F\x98\x80\xC3\xBC\xEF\xBF\xBD\xEF\xBF\xBD";
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    Utf16Decoder decoder(false);
    std::string out;
    decoder.decode(std::string_view(bytes).substr(0, cut), out);
    decoder.decode(std::string_view(bytes).substr(cut), out);
    decoder.finish(out);
    EXPECT_EQ(out, expected) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace kestrine
