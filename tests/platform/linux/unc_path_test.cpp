#include "platform/linux/smb/unc_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/linux/smb/smb_permissions.h"

namespace kestrine {
namespace {

using ::testing::HasSubstr;

TEST(UncPath, TakesServerShareAndFoldersApart) {
  const auto path = parseUncPath("\\\\dc1.kestrine.test\\home$\\jdoe");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->server, "dc1.kestrine.test");
  EXPECT_EQ(path->share, "home$");
  EXPECT_THAT(path->folders, ::testing::ElementsAre("jdoe"));
  EXPECT_EQ(path->text(), "\\\\dc1.kestrine.test\\home$\\jdoe");
  EXPECT_EQ(parseUncPath("//srv/share/a\\b")->folders, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(parseUncPath("\\\\srv\\share")->folders.empty());
}

TEST(UncPath, RefusesWhatNamesNoFolderOrLeavesIt) {
  for (const char* bad : {"\\\\\\home$\\jdoe", "\\\\srv\\$\\", "\\\\srv", "\\\\srv\\share\\..",
                          "\\\\srv\\share\\.\\x", "\\\\srv\\share\\a\\..\\..\\etc", "\\srv\\share",
                          "srv\\share\\x", "\\\\srv\\\\x"}) {
    EXPECT_FALSE(parseUncPath(bad)) << bad;
  }
  // An empty share base still names a share, "$".
  EXPECT_EQ(parseUncPath("\\\\srv\\$\\jdoe")->share, "$");
}

TEST(UncPath, UrlEncodesEveryCharacterOfURLSyntax) {
  const auto path = parseUncPath("\\\\srv\\home$\\a b%2F?#@:;x\xC3\xA9");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->url(), "smb://srv/home%24/a%20b%252F%3F%23%40%3A%3Bx%C3%A9");
  EXPECT_EQ(path->child("sub dir").url(),
            "smb://srv/home%24/a%20b%252F%3F%23%40%3A%3Bx%C3%A9/sub%20dir");
}

TEST(UncPath, UrlRefusesNamesThatLibsmbclientWouldCutShortOrSplit) {
  // libsmbclient decodes the URL into C strings: "victim%00x" would reach the
  // server as "victim", someone else's folder.
  std::vector<std::string> controls;
  for (int c = 0; c < 0x20; ++c) controls.emplace_back(1, static_cast<char>(c));
  controls.emplace_back("\x7F");
  for (const std::string& control : controls) {
    const std::string name = "victim" + control + "x";
    for (const UncPath& path : {UncPath{"srv", "home$", {name}}, UncPath{"srv", name, {"a"}},
                                UncPath{name, "home$", {}}, UncPath{"srv", "home$", {"a", name}}}) {
      try {
        path.url();
        ADD_FAILURE() << "accepted byte " << static_cast<int>(control[0]);
      } catch (const FileError& e) {
        EXPECT_EQ(e.code(), EINVAL);
        char codePoint[16];
        std::snprintf(codePoint, sizeof codePoint, "(U+%04X)",
                      static_cast<unsigned char>(control[0]));
        EXPECT_THAT(e.what(), HasSubstr(codePoint));
      }
    }
  }
  const UncPath home = *parseUncPath("\\\\srv\\home$");
  for (const char* piece : {"a/b", "a\\b", "..", ".", ""}) {
    EXPECT_THROW(home.child(piece).url(), FileError) << piece;
  }
  EXPECT_EQ(home.child(" ~\x80\xFF").url(), "smb://srv/home%24/%20~%80%FF");
}

TEST(UncPath, KeepsANulInsideANameAndShowsItAsAPicture) {
  const auto path = parseUncPath(std::string("\\\\srv\\home$\\victim\0x\\\x7F\x1F", 23));
  ASSERT_TRUE(path);
  EXPECT_EQ(path->folders[0], std::string("victim\0x", 8));
  EXPECT_EQ(path->text(), "\\\\srv\\home$\\victim\xE2\x90\x80x\\\xE2\x90\xA1\xE2\x90\x9F");
  EXPECT_THROW(path->url(), FileError);
}

TEST(FullControlDescriptor, AdministratorsAndTheAccountInheritedBelowFoldersOnly) {
  EXPECT_EQ(fullControlDescriptor("S-1-5-21-1-2-3-1104", true),
            "REVISION:1,ACL:S-1-5-32-544:0/3/2032127,ACL:S-1-5-21-1-2-3-1104:0/3/2032127");
  EXPECT_EQ(fullControlDescriptor("S-1-5-21-1-2-3-1104", false),
            "REVISION:1,ACL:S-1-5-32-544:0/0/2032127,ACL:S-1-5-21-1-2-3-1104:0/0/2032127");
}

}  // namespace
}  // namespace kestrine
