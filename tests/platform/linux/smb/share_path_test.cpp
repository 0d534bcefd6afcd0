#include "platform/linux/smb/share_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

namespace kestrine::smb {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(SharePath, TakesServerShareAndFoldersApart) {
  const SharePath path = SharePath::parse("\\\\dc1.kestrine.test\\home$\\jdoe");
  EXPECT_EQ(path.server, "dc1.kestrine.test");
  EXPECT_EQ(path.share, "home$");
  EXPECT_EQ(path.path, "jdoe");
  EXPECT_EQ(path.unc(), "\\\\dc1.kestrine.test\\home$\\jdoe");
  EXPECT_EQ(SharePath::parse("//srv/share/a\\b").path, "a\\b");
  EXPECT_EQ(SharePath::parse("\\\\srv\\share").path, "");
  // An empty share base still names a share, "$".
  EXPECT_EQ(SharePath::parse("\\\\srv\\$\\jdoe").share, "$");
  EXPECT_TRUE(isUncPath("//srv/x"));
  EXPECT_FALSE(isUncPath("/srv/x"));
}

// Nothing that names no single place, leaves the folder it names, or would
// be cut short as a C string ever reaches a server.
TEST(SharePath, RefusesWhatNamesNoFolderOrLeavesIt) {
  for (const char* bad : {"\\\\\\home$\\jdoe", "\\\\srv\\$\\", "\\\\srv", "\\\\srv\\share\\..",
                          "\\\\srv\\share\\.\\x", "\\\\srv\\share\\a\\..\\..\\etc", "\\srv\\share",
                          "srv\\share\\x", "\\\\srv\\\\x"}) {
    EXPECT_THROW(SharePath::parse(bad), std::invalid_argument) << bad;
  }
  const SharePath home = SharePath::parse("\\\\srv\\home$");
  for (const char* piece : {"a/b", "a\\b", "..", ".", ""}) {
    EXPECT_THROW(home.child(piece), std::invalid_argument) << piece;
  }
  for (int c = 0; c <= 0x7F; c = c == 0x1F ? 0x7F : c + 1) {
    const std::string name = "victim" + std::string(1, static_cast<char>(c)) + "x";
    char codePoint[16];
    std::snprintf(codePoint, sizeof codePoint, "(U+%04X)", c);
    for (const std::string& path : {"\\\\srv\\home$\\" + name, "\\\\srv\\" + name + "\\a",
                                    "\\\\" + name + "\\home$", "\\\\srv\\home$\\a\\" + name}) {
      try {
        SharePath::parse(path);
        ADD_FAILURE() << "accepted byte " << c;
      } catch (const std::invalid_argument& e) {
        EXPECT_THAT(e.what(), HasSubstr(codePoint));
        EXPECT_THAT(e.what(), Not(HasSubstr(std::string(1, static_cast<char>(c)))));
      }
    }
    EXPECT_THROW(home.child(name), std::invalid_argument);
  }
  EXPECT_EQ(home.child(" ~\x80\xFF").path, " ~\x80\xFF");
}

}  // namespace
}  // namespace kestrine::smb
