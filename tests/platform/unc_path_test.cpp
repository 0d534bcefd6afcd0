#include "platform/smb/unc_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/smb/smb_permissions.h"

namespace kestrine {
namespace {

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

TEST(FullControlDescriptor, AdministratorsAndTheAccountInheritedBelowFoldersOnly) {
  EXPECT_EQ(fullControlDescriptor("S-1-5-21-1-2-3-1104", true),
            "REVISION:1,ACL:S-1-5-32-544:0/3/2032127,ACL:S-1-5-21-1-2-3-1104:0/3/2032127");
  EXPECT_EQ(fullControlDescriptor("S-1-5-21-1-2-3-1104", false),
            "REVISION:1,ACL:S-1-5-32-544:0/0/2032127,ACL:S-1-5-21-1-2-3-1104:0/0/2032127");
}

}  // namespace
}  // namespace kestrine
