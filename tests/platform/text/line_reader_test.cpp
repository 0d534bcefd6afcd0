#include "platform/text/line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <memory_resource>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text/utf16_decoder.h"
#include "platform/text/wipe.h"
#include "run/import_run.h"
#include "tests/fakes/fakes.h"
#include "tests/platform/text/utf16_text.h"

#ifdef _WIN32
#include "platform/win32/win32_file_system.h"
#else
#include "platform/linux/text_decoder.h"
#endif

namespace kestrine {
namespace {

using Lines = std::vector<std::string>;

// What a source went through, kept past the reader's life.
struct SourceLog {
  bool closed = false;
  int readsAfterEnd = 0;
  const char* buffer = nullptr;  // the reader's, as the last read was handed it
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
    if (log_) log_->buffer = buffer;
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
  std::string decode(std::string_view bytes, std::optional<BadByte>&) override {
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
  std::string name() const override { return "ISO-8859-1"; }
  std::string remedy() const override { return ""; }

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
    // An odd byte after a UTF-16 mark is no text.
    EXPECT_THROW(readAll(std::string("\xFE\xFF") + "a", piece), NotText);
    // A second mark is text: U+FEFF.
    EXPECT_EQ(readAll("\xEF\xBB\xBF\xEF\xBB\xBF", piece), Lines{"\xEF\xBB\xBF"});
  }
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
    EXPECT_THAT(e.what(), ::testing::HasSubstr("users.csv"));
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

// A line holds the password: the buffer the file is read into keeps no line
// once it is read, and nothing once the stream is closed.
TEST(LineReader, WipesEachLineFromItsBufferAndTheRestOnClose) {
  SourceLog log;
  auto stream = reader("jdoe,Pa55word!\nkroe,S3cret!\n", LineReader::kBufferBytes, &log);
  EXPECT_EQ(stream->ReadLine(), "jdoe,Pa55word!");
  const std::string_view buffer(log.buffer, 28);  // the reader's, alive as long as it is
  EXPECT_EQ(buffer, std::string(14, '\0') + "\nkroe,S3cret!\n");
  stream->Close();
  EXPECT_EQ(buffer, std::string(28, '\0'));
}

TEST(TextDecoder, RepairUtf8RejectsOverlongSurrogateAndTruncatedSequences) {
  std::optional<BadByte> bad;
  EXPECT_EQ(repairUtf8("ok \xE2\x82\xAC \xF0\x9F\x98\x80", bad),
            "ok \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(repairUtf8("\xC0\xAF", bad), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("\xED\xA0\x80", bad), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("a\xE2\x82", bad), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Counts the buffers that come back still holding something.
struct CheckingResource : std::pmr::memory_resource {
  int unwiped = 0;
  void* do_allocate(std::size_t n, std::size_t) override { return ::operator new(n); }
  void do_deallocate(void* buffer, std::size_t n, std::size_t) override {
    const auto* bytes = static_cast<const char*>(buffer);
    unwiped += std::any_of(bytes, bytes + n, [](char c) { return c != 0; });
    ::operator delete(buffer);
  }
  bool do_is_equal(const memory_resource& other) const noexcept override { return this == &other; }
};

// The whole buffer is wiped, not only the text it holds now, and a buffer
// that growing leaves behind is wiped before it goes.
TEST(Wipe, NoBufferGoesBackHoldingWhatItHeld) {
  CheckingResource memory;
  {
    std::pmr::string password("Pa55word! and more than fits inside the string", &memory);
    password.resize(4);
    wipe(password);
    for (int i = 0; i < 200; ++i) appendWiping(password, std::string_view("secret"));
    wipe(password);
  }
  EXPECT_EQ(memory.unwiped, 0);
}

#ifdef _WIN32
constexpr bool kWindows = true;
using SystemCodePage = Win32CodePageDecoder;  // 1252 under Wine as the tests run it
#else
constexpr bool kWindows = false;
struct SystemCodePage : TextDecoder {  // a UTF-8 locale's
  SystemCodePage() : TextDecoder("UTF-8") {}
};
#endif

// A CSV file's bytes through the platform's reader and code page, and what
// the run writes: each account as "cn sn password", then the summary's lines.
Lines importOf(const std::string& bytes) {
  testing::CallLog log;
  testing::FakeDirectory directory{log};
  testing::RecordingView view{log};
  testing::FakeFileSystem files{log};
  files.openStream = [&](const std::string& path) {
    return std::make_unique<LineReader>(std::make_unique<MemorySource>(bytes, 7),
                                        std::make_unique<SystemCodePage>(), path);
  };
  ImportRun(view, directory, files).run();
  Lines outcome;
  for (const auto& [dn, values] : directory.objects) {
    if (values.count("password")) {
      outcome.push_back(dn.substr(3, dn.find(',') - 3) + " " + values.at("sn") + " " +
                        values.at("password"));
    }
  }
  const std::string summary = "message 0 [Kestrine] ";
  for (const auto& entry : log.entries) {
    std::istringstream lines(entry.rfind(summary, 0) == 0 ? entry.substr(summary.size()) : "");
    for (std::string line; std::getline(lines, line);) outcome.push_back("! " + line);
  }
  return outcome;
}

// Each line is UTF-8 when it is, else the system's code page; a line that is
// neither, or a marked file that is not what its mark says, is refused whole,
// naming the column and the byte but never the column's text, and a short
// record after it takes nothing from it.
TEST(CharacterSets, LinesThroughTheReaderAndTheRecordRule) {
  ASSERT_EQ(SystemCodePage().name(), kWindows ? "code page 1252" : "UTF-8");
  const std::string tail = ",Sales,example.test,fs1,home,x.cmd";
  const std::string notSaved =
      "; not among the failed records to save: mend it in the original file";
  const std::string remedy = (kWindows ? "; save the file as UTF-8"
                                       : "; save the file as UTF-8, or start Kestrine with the "
                                         "file's character set (LC_ALL=...)") +
                             notSaved;
  const std::string utf8Zoe = "xzoe,Zo\xC3\xAB Ansi,Zo\xC3\xAB,M\xC3\xBCller,P\xC3\xA4ss!x1" + tail;
  const std::string zoe = "Zo\xC3\xAB Ansi M\xC3\xBCller P\xC3\xA4ss!x1";
  const std::string cp1252Max = "xmax,Max M\xFCller,Max,M\xFCller,M\xE4x!x1" + tail;
  const std::string max = "! xmax: check the record: column 1 is not text in UTF-8 (byte 0xFC)";
  const std::string refused = ": check the record: column ";
  const struct {
    std::string bytes;
    Lines onLinux;
    Lines onWindows;  // when it differs
  } cases[] = {
      {"xzoe,Zo\xEB Ansi,Zo\xEB,M\xFCller,P\xE4ss!x1" + tail,
       {"! xzoe" + refused + "1 is not text in UTF-8 (byte 0xEB)" + remedy},
       {zoe}},
      {"xbad,Bad Byte,Bad,Byte,Pass\x81!x1" + tail,
       {"! xbad" + refused + "4 is not text in UTF-8 (byte 0x81)" + remedy},
       {"! xbad" + refused + "4 is not text in UTF-8 or code page 1252 (byte 0x81)" + remedy}},
      {"j\xFCrgen,J\xFCrgen Ansi,J,Ansi,Pass!x1" + tail,
       {"! j\xEF\xBF\xBDrgen" + refused + "0 is not text in UTF-8 (byte 0xFC)" + remedy},
       {"J\xC3\xBCrgen Ansi Ansi Pass!x1"}},
      {"xamy,Amy Ascii,Amy,Ascii,Pass!x1" + tail + "\r\n" + utf8Zoe + "\r\n" + cp1252Max +
           "\r\nxkim,Kim Roe\r\n",
       {"Amy Ascii Ascii Pass!x1", "Kim Roe M\xC3\xBCller P\xC3\xA4ss!x1", zoe, max + remedy},
       {"Amy Ascii Ascii Pass!x1", "Kim Roe M\xC3\xBCller M\xC3\xA4x!x1",
        "Max M\xC3\xBCller M\xC3\xBCller M\xC3\xA4x!x1", zoe}},
      {"\xEF\xBB\xBF" + utf8Zoe + "\n" + cp1252Max,
       {zoe, max + "; save the file as UTF-8" + notSaved},
       {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(importOf(c.bytes), kWindows && !c.onWindows.empty() ? c.onWindows : c.onLinux)
        << c.bytes;
  }
}

// A file is read in pieces that may cut a code unit or a pair in two.
TEST(Utf16Decoder, DecodesTheSameWhereverThePiecesAreCut) {
  const std::string bytes(
      "a\0\x3D\xD8\x00\xDE\xFC\x00\x00\xDE"
      "b",
      11);
  const std::string expected = "a\xF0\x9F\x98\x80\xC3\xBC\xED\xB8\x80\xFF";
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
