#include <gtest/gtest.h>

#include "platform/ldap/ldap_directory.h"

namespace kestrine {
namespace {

TEST(AttributeForProperty, MapsPropertyNamesAndValuesToDirectoryText) {
  const auto script = attributeForProperty("ScriptPath", std::string("logon.cmd"));
  EXPECT_EQ(script.name, "scriptPath");
  EXPECT_EQ(script.values, std::vector<std::string>{"logon.cmd"});

  const auto expires = attributeForProperty("AccountExpirationDate", std::string("01/01/1970"));
  EXPECT_EQ(expires.name, "accountExpires");
  EXPECT_EQ(expires.values, std::vector<std::string>{"0"});

  EXPECT_EQ(attributeForProperty("userAccountControl", std::int16_t{512}).values,
            std::vector<std::string>{"512"});
  EXPECT_EQ(attributeForProperty("pwdLastSet", std::int16_t{-1}).values,
            std::vector<std::string>{"-1"});
  EXPECT_TRUE(attributeForProperty("givenName", std::string()).values.empty());
  EXPECT_EQ(attributeForProperty("sn", std::string("Doe")).name, "sn");
}

TEST(AccountExpiresFromDate, CountsHundredNanosecondsSince1601) {
  EXPECT_EQ(accountExpiresFromDate("01/01/1970"), "0");
  EXPECT_EQ(accountExpiresFromDate("01/02/1601"), "864000000000");
  EXPECT_EQ(accountExpiresFromDate("12/31/2030"), "135693792000000000");
  EXPECT_THROW(accountExpiresFromDate("13/01/2020"), DirectoryError);
  EXPECT_THROW(accountExpiresFromDate("1/1/1970"), DirectoryError);
  EXPECT_THROW(accountExpiresFromDate("02/30/2020"), DirectoryError);
}

TEST(UnicodePwdValue, QuotesThePasswordInUtf16LittleEndian) {
  EXPECT_EQ(unicodePwdValue("ab"), std::string("\"\0a\0b\0\"\0", 8));
  EXPECT_EQ(unicodePwdValue("\xC3\xBC"), std::string("\"\0\xFC\0\"\0", 6));
  EXPECT_EQ(unicodePwdValue("\xE2\x82\xAC"), std::string("\"\0\xAC\x20\"\0", 6));
  EXPECT_EQ(unicodePwdValue("\xF0\x9F\x98\x80"), std::string("\"\0\x3D\xD8\x00\xDE\"\0", 8));
}

}  // namespace
}  // namespace kestrine
