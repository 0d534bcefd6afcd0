#include "platform/linux/local_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/linux/text_decoder.h"
#include "tests/platform/text/utf16_text.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

class LocalFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrine-fs-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write(const std::string& bytes) {
    const std::string path = dir + "/users.csv";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::vector<std::string> lines(const std::string& bytes) {
    auto stream = files.OpenTextFile(write(bytes));
    std::vector<std::string> read;
    while (!stream->AtEndOfStream()) read.push_back(stream->ReadLine());
    return read;
  }

  std::string dir;
  LocalFileSystem files;
};

using Lines = std::vector<std::string>;

constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;  // what the stream reads at a time

long peakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(LocalFileSystemTest, LinesEndAtLineFeedCarriageReturnOrBoth) {
  EXPECT_EQ(lines(""), Lines{});
  EXPECT_EQ(lines("a\n"), Lines{"a"});
  EXPECT_EQ(lines("a"), Lines{"a"});
  EXPECT_EQ(lines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines("\n"), Lines{""});
  EXPECT_EQ(lines("a\rb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines("a\r\n"), Lines{"a"});
  EXPECT_EQ(lines("a\r"), Lines{"a"});
  EXPECT_EQ(lines("a\r\r\nb"), (Lines{"a", "", "b"}));
}

TEST_F(LocalFileSystemTest, LinesAndLineEndsCrossTheReadBuffer) {
  const std::string longLine(200'000, 'x');
  EXPECT_EQ(lines(longLine + "\r\n" + longLine), (Lines{longLine, longLine}));
  // The CR is the last byte of the first 64 KiB read.
  const std::string upToBufferEnd(kBufferBytes - 1, 'x');
  EXPECT_EQ(lines(upToBufferEnd + "\r\nb"), (Lines{upToBufferEnd, "b"}));
  EXPECT_EQ(lines(upToBufferEnd + "\rb"), (Lines{upToBufferEnd, "b"}));
  EXPECT_EQ(lines(upToBufferEnd + "\r"), Lines{upToBufferEnd});
}

TEST_F(LocalFileSystemTest, OverlongLineFailsAndReadingGoesOnAfterIt) {
  const std::string longest(kMaxLineBytes, 'x');
  auto stream = files.OpenTextFile(
      write(longest + "\n" + std::string(kMaxLineBytes + 1, 'y') + "\r\nnext\n" + longest + "z"));
  EXPECT_EQ(stream->ReadLine(), longest);
  EXPECT_THROW(stream->ReadLine(), LineTooLong);
  EXPECT_EQ(stream->ReadLine(), "next");
  EXPECT_THROW(stream->ReadLine(), LineTooLong);  // the last line, without a line end
  EXPECT_TRUE(stream->AtEndOfStream());
}

// A file without any line end is read through, not into memory.
TEST_F(LocalFileSystemTest, FileWithoutLineEndsKeepsMemoryBounded) {
  const std::string path = write("");
  ASSERT_EQ(truncate(path.c_str(), off_t{50} << 20), 0);  // 50 MiB of zero bytes, no line end
  const long peakBefore = peakResidentKiB();
  auto stream = files.OpenTextFile(path);
  EXPECT_FALSE(stream->AtEndOfStream());
  EXPECT_THROW(stream->ReadLine(), LineTooLong);
  EXPECT_TRUE(stream->AtEndOfStream());
  // Holding the line would take more than 50 MiB.
  EXPECT_LT(peakResidentKiB() - peakBefore, 32 * 1024);
}

TEST_F(LocalFileSystemTest, Utf16WithByteOrderMarkIsReadAsUtf8) {
  const std::u16string text = u"jdoe,Z\u00FCrich \U0001F600\r\nkroe\rlast\n";
  const Lines expected{"jdoe,Z\xC3\xBCrich \xF0\x9F\x98\x80", "kroe", "last"};
  EXPECT_EQ(lines(utf16(text, false)), expected);
  EXPECT_EQ(lines(utf16(text, true)), expected);
  EXPECT_EQ(lines(utf16(u"", false)), Lines{});
  // What is no text: an unpaired surrogate, an odd byte at the end.
  EXPECT_THROW(lines(utf16(u"c\xDE00", false)), NotText);
  EXPECT_THROW(lines(utf16(u"z", false) + "x"), NotText);
  // Only at the very start is it a byte-order mark: here, no UTF-8 text.
  EXPECT_THROW(lines("a\n\xFF\xFE"), NotText);
}

TEST_F(LocalFileSystemTest, FileTruncatedWhileReadFails) {
  std::string text;
  for (int i = 0; text.size() < 300 * 1024; ++i) text += "user" + std::to_string(i) + ",x\n";
  const std::string path = write(text);
  auto stream = files.OpenTextFile(path);
  EXPECT_EQ(stream->ReadLine(), "user0,x");
  ASSERT_EQ(truncate(path.c_str(), 4), 0);
  try {
    while (!stream->AtEndOfStream()) stream->ReadLine();
    FAIL() << "the truncated file read to an end";
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), EIO);
    EXPECT_THAT(e.what(), testing::HasSubstr("the file was truncated while it was read"));
  }
}

TEST_F(LocalFileSystemTest, ByteOrderMarkIsDroppedOnlyAtTheStart) {
  EXPECT_EQ(lines("\xEF\xBB\xBFjdoe,x\n\xEF\xBB\xBFkroe"), (Lines{"jdoe,x", "\xEF\xBB\xBFkroe"}));
}

TEST_F(LocalFileSystemTest, ReadingPastTheEndFails) {
  auto stream = files.OpenTextFile(write("a"));
  EXPECT_EQ(stream->ReadLine(), "a");
  EXPECT_TRUE(stream->AtEndOfStream());
  EXPECT_THROW(stream->ReadLine(), FileError);
  stream->Close();
  EXPECT_THROW(stream->AtEndOfStream(), FileError);
}

TEST_F(LocalFileSystemTest, OnlyRegularFilesOpen) {
  // Opened for reading, a FIFO would wait for a writer.
  const std::string fifo = dir + "/pipe.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null")}) {
    try {
      files.OpenTextFile(path);
      FAIL() << path;
    } catch (const FileError& e) {
      EXPECT_STREQ(e.what(), "not a regular file") << path;
    }
  }
}

TEST_F(LocalFileSystemTest, MissingFileOrFolderCannotBeOpened) {
  try {
    files.OpenTextFile(dir + "/none.csv");
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), ENOENT);
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
  try {
    files.OpenTextFile(dir);
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), EISDIR);
    EXPECT_STREQ(e.what(), "Is a directory");
  }
}

TEST_F(LocalFileSystemTest, PathWithNulByteIsRefusedNotCutShort) {
  const std::string cut = dir + "/home";
  const std::string path = cut + std::string("\0/x", 3);
  EXPECT_THROW(files.CreateFolder(path), FileError);
  EXPECT_FALSE(fs::exists(cut));
  ASSERT_TRUE(fs::create_directory(cut));
  EXPECT_FALSE(files.FolderExists(path));
  write("a");
  try {
    files.OpenTextFile(dir + "/users.csv" + std::string("\0.txt", 5));
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), EINVAL);
  }
}

// A byte that is no character, or that ISO 8859 holds a C1 control character
// for, shows as U+FFFD and is told with where it stands.
// Failed records hold passwords: the file is its owner's alone from its first
// moment, whatever the umask or the file it replaces; it is whole or not
// there, and a link at the path is replaced, never followed.
TEST_F(LocalFileSystemTest, WrittenTextIsTheOwnersAloneWholeAndReadsBackAsWritten) {
  const auto contents = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  const std::string path = dir + "/failed.csv";
  const std::string elsewhere = dir + "/elsewhere";
  std::ofstream(elsewhere) << "keep";
  fs::create_symlink(elsewhere, path);
  const mode_t umaskBefore = ::umask(0);
  files.WriteTextFile(path, "jdoe,J\xC3\xBCrgen,,,Pa55word!\nkroe,Kim\n");
  ::umask(umaskBefore);

  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(contents(elsewhere), "keep");
  EXPECT_EQ(contents(path), "\xEF\xBB\xBFjdoe,J\xC3\xBCrgen,,,Pa55word!\nkroe,Kim\n");
  auto stream = files.OpenTextFile(path);
  EXPECT_EQ(stream->ReadLine(), "jdoe,J\xC3\xBCrgen,,,Pa55word!");
  EXPECT_EQ(stream->ReadLine(), "kroe,Kim");

  // Where it cannot be written, nothing is, and nothing is left behind.
  EXPECT_THROW(files.WriteTextFile(dir + "/missing/failed.csv", "x"), FileError);
  EXPECT_THROW(files.WriteTextFile(dir, "x"), FileError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  for (const auto& entry : fs::directory_iterator(fs::path(dir).parent_path())) {
    EXPECT_FALSE(entry.path().string().starts_with(dir + ".")) << entry.path();
  }
}

TEST(TextDecoder, DecodesCodePagesStrictly) {
  const auto decoded = [](const char* charset, std::string_view bytes) {
    std::optional<BadByte> bad;
    const std::string text = TextDecoder(charset).decode(bytes, bad);
    return bad ? text + " @" + std::to_string(bad->offset) + " " + std::to_string(bad->value)
               : text;
  };
  EXPECT_EQ(decoded("ISO-8859-1", "Z\xFCrich"), "Z\xC3\xBCrich");
  EXPECT_EQ(decoded("ISO-8859-1", "\xA0\x85."), "\xC2\xA0\xEF\xBF\xBD. @2 133");
  EXPECT_EQ(decoded("CP1252", "\x80 a\x81"), "\xE2\x82\xAC a\xEF\xBF\xBD @5 129");
  EXPECT_EQ(TextDecoder("CP1252").name(), "CP1252");
  EXPECT_EQ(TextDecoder("ASCII").name(), "UTF-8");  // plain ASCII reads as UTF-8
  EXPECT_THROW(TextDecoder("NO-SUCH-CHARSET"), std::runtime_error);
}

TEST(TextDecoder, LocaleCharsetFollowsTheEnvironment) {
  const char* saved = std::getenv("LC_ALL");
  const std::string restore = saved ? saved : "";
  setenv("LC_ALL", "C.UTF-8", 1);
  EXPECT_EQ(TextDecoder::localeCharset(), "UTF-8");
  setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(TextDecoder().isUtf8());  // plain ASCII reads as UTF-8
  if (saved) {
    setenv("LC_ALL", restore.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

}  // namespace
}  // namespace kestrine
