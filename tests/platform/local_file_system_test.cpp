#include "platform/posix/local_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/text_decoder.h"

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

TEST_F(LocalFileSystemTest, LinesEndAtLineFeedOrCarriageReturnLineFeed) {
  EXPECT_EQ(lines(""), Lines{});
  EXPECT_EQ(lines("a\n"), Lines{"a"});
  EXPECT_EQ(lines("a"), Lines{"a"});
  EXPECT_EQ(lines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(lines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines("a\rb\n"), Lines{"a\rb"});
  EXPECT_EQ(lines("\n"), Lines{""});
}

TEST_F(LocalFileSystemTest, LongLinesCrossTheReadBuffer) {
  const std::string longLine(200'000, 'x');
  EXPECT_EQ(lines(longLine + "\r\n" + longLine), (Lines{longLine, longLine}));
}

TEST_F(LocalFileSystemTest, ByteOrderMarkIsDroppedOnlyAtTheStart) {
  EXPECT_EQ(lines("\xEF\xBB\xBFjdoe,x\n\xEF\xBB\xBFkroe"), (Lines{"jdoe,x", "\xEF\xBB\xBFkroe"}));
}

TEST_F(LocalFileSystemTest, BytesThatDoNotDecodeBecomeReplacementCharacters) {
  EXPECT_EQ(lines("Z\xC3\xBCrich,\xFF\xC3\n"), Lines{"Z\xC3\xBCrich,\xEF\xBF\xBD\xEF\xBF\xBD"});
}

TEST_F(LocalFileSystemTest, ReadingPastTheEndFails) {
  auto stream = files.OpenTextFile(write("a"));
  EXPECT_EQ(stream->ReadLine(), "a");
  EXPECT_TRUE(stream->AtEndOfStream());
  EXPECT_THROW(stream->ReadLine(), FileError);
  stream->Close();
  EXPECT_THROW(stream->AtEndOfStream(), FileError);
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
  }
}

TEST(TextDecoder, DecodesSingleByteCodePagesAndReplacesWhatDoesNotMap) {
  TextDecoder latin1("ISO-8859-1");
  EXPECT_FALSE(latin1.isUtf8());
  EXPECT_EQ(latin1.decode("Z\xFCrich"), "Z\xC3\xBCrich");
  TextDecoder ascii("ASCII");
  EXPECT_TRUE(ascii.isUtf8());
  TextDecoder cp1252("CP1252");
  EXPECT_EQ(cp1252.decode("\x80 a\x81"), "\xE2\x82\xAC a\xEF\xBF\xBD");
  EXPECT_THROW(TextDecoder("NO-SUCH-CHARSET"), std::runtime_error);
}

TEST(TextDecoder, RepairUtf8RejectsOverlongSurrogateAndTruncatedSequences) {
  EXPECT_EQ(repairUtf8("ok \xE2\x82\xAC \xF0\x9F\x98\x80"), "ok \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(repairUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(repairUtf8("a\xE2\x82"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
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
