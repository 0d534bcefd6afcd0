#include <gtest/gtest.h>

#include "platform/directory/directory_values.h"

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

TEST(SidText, ReadsTheBinaryObjectSid) {
  // S-1-5-21-3906237391-502548272-1303214155-1104 as the directory stores it.
  const std::string sid(
      "\x01\x05\x00\x00\x00\x00\x00\x05\x15\x00\x00\x00\xcf\x73\xd4\xe8"
      "\x30\x47\xf4\x1d\x4b\x78\xad\x4d\x50\x04\x00\x00",
      28);
  EXPECT_EQ(sidText(sid), "S-1-5-21-3906237391-502548272-1303214155-1104");
  EXPECT_EQ(
      sidText(std::string("\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00", 16)),
      "S-1-5-32-544");
  EXPECT_THROW(sidText(sid.substr(0, 27)), DirectoryError);
  EXPECT_THROW(sidText(""), DirectoryError);
}

// The way back, for a search by objectSid: every text that is no SID refused.
TEST(ObjectSidValue, WritesTheBinaryObjectSid) {
  for (const char* text :
       {"S-1-5-21-3906237391-502548272-1303214155-1104", "S-1-5-32-544", "S-1-1-0", "S-1-5-18"}) {
    EXPECT_EQ(sidText(objectSidValue(text)), text);
  }
  for (const char* text : {"", "S-1-5", "S-1-5-", "S-1-5--32", "S-1-5-32-4294967296", "S-2-5-18",
                           "S-1-281474976710656-1", "S-1-5-18)(x=*", "s-1-5-18"}) {
    EXPECT_THROW(objectSidValue(text), DirectoryError) << text;
  }
  EXPECT_EQ(binaryFilterValue(std::string("\x01(", 2)), "\\01\\28");
}

TEST(FilterValue, EscapesWhatWouldChangeTheFilter) {
  EXPECT_EQ(filterValue("jdoe"), "jdoe");
  EXPECT_EQ(filterValue("*)(objectClass=*"), "\\2a\\29\\28objectClass=\\2a");
  EXPECT_EQ(filterValue(std::string("a\\b\0c", 5)), "a\\5cb\\00c");
  EXPECT_EQ(filterValue("J\xC3\xBCrgen"), "J\xC3\xBCrgen");  // UTF-8 goes as it is
}

TEST(AttributeKey, LowersAsciiLettersOnly) {
  EXPECT_EQ(attributeKey("sAMAccountName"), "samaccountname");
  EXPECT_EQ(attributeKey("\xC3\x9C-Name"), "\xC3\x9C-name");
}

}  // namespace
}  // namespace kestrine
