#include "platform/directory/dn.h"

#include <gtest/gtest.h>
#include <ldap.h>

#include <random>
#include <string>
#include <vector>

#include "platform/directory.h"

namespace kestrine {
namespace {

TEST(EscapeDnValue, EscapesEveryCharacterWithAMeaningInNames) {
  EXPECT_EQ(escapeDnValue("Sales"), "Sales");
  EXPECT_EQ(escapeDnValue("a+b"), "a\\2Bb");
  EXPECT_EQ(escapeDnValue("a=b"), "a\\3Db");
  EXPECT_EQ(escapeDnValue("Smith, John"), "Smith\\2C John");
  EXPECT_EQ(escapeDnValue("back\\slash"), "back\\5Cslash");
  EXPECT_EQ(escapeDnValue("\"q\"<a>;"), "\\22q\\22\\3Ca\\3E\\3B");
  EXPECT_EQ(escapeDnValue("#lead"), "\\23lead");
  EXPECT_EQ(escapeDnValue("mid#dle"), "mid#dle");
  EXPECT_EQ(escapeDnValue(" both "), "\\20both\\20");
  EXPECT_EQ(escapeDnValue("Zürich"), "Zürich");
  EXPECT_EQ(escapeDnValue(""), "");
}

TEST(EscapeDnValue, EscapedValueParsesBackAsOneValue) {
  for (const char* value : {"a+b=c", "x,OU=Evil", " lead", "trail ", "#x", "a\\b"}) {
    const std::string dn = childDn("OU=" + escapeDnValue(value), "DC=example,DC=test");
    EXPECT_EQ(normalizeDn(dn), dn) << value;
    EXPECT_EQ(dn.substr(dn.size() - 19), ",DC=example,DC=test") << value;
  }
}

TEST(NormalizeDn, DropsTheBlankBeforeAComma) {
  EXPECT_EQ(normalizeDn("OU=Sales ,DC=example,DC=test"), "OU=Sales,DC=example,DC=test");
  EXPECT_EQ(normalizeDn(""), "");
  EXPECT_THROW(normalizeDn("not a dn"), DirectoryError);
  EXPECT_THROW(normalizeDn("OU=a+b,DC=x"), DirectoryError);
}

TEST(ChildDn, PutsTheRelativeNameInFrontOfItsParent) {
  EXPECT_EQ(childDn("cn=John", "OU=Sales,DC=x"), "cn=John,OU=Sales,DC=x");
  EXPECT_EQ(childDn("OU=Sales", ""), "OU=Sales");
  EXPECT_THROW(childDn("cn=a,OU=b", "DC=x"), DirectoryError);
  EXPECT_THROW(childDn("nonsense", "DC=x"), DirectoryError);
  EXPECT_THROW(childDn("", "DC=x"), DirectoryError);
  try {
    childDn("cn=a,OU=b", "DC=x");
  } catch (const DirectoryError& e) {
    EXPECT_EQ(e.code(), 34);  // invalid DN syntax
  }
}

TEST(ChildDn, RefusesANulAnywhereInsteadOfAbortingOrCuttingTheName) {
  using namespace std::string_literals;
  for (const std::string& name : {"\0"s, "\0OU=a"s, "OU=a\0"s, "OU=a\0,DC=evil"s, "OU=\0b"s}) {
    EXPECT_THROW(childDn(name, "DC=x"), DirectoryError) << name.size();
    EXPECT_THROW(childDn("OU=a", name), DirectoryError) << name.size();
    EXPECT_THROW(normalizeDn(name), DirectoryError) << name.size();
  }
  EXPECT_THROW(childDn("OU=a+", "DC=x"), DirectoryError);
  EXPECT_THROW(childDn("=", "DC=x"), DirectoryError);
  EXPECT_THROW(childDn("OU=a", ","), DirectoryError);
  // Escaped, a NUL is text like any other.
  EXPECT_EQ(escapeDnValue("a\0b"s), "a\\00b");
  EXPECT_EQ(childDn("OU=" + escapeDnValue("\0"s), "DC=x"), "OU=\\00,DC=x");
}

// The value of the first attribute of a distinguished name, as libldap's own
// parser reads it.
std::string firstValue(const std::string& dn) {
  LDAPDN parsed = nullptr;
  berval text{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.data())};
  if (ldap_bv2dn(&text, &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS || !parsed) {
    return "<unparsable>";
  }
  const berval& value = parsed[0][0]->la_value;
  std::string result(value.bv_val, value.bv_len);
  ldap_dnfree(parsed);
  return result;
}

// Pieces that mean something to DN syntax, to C strings or to UTF-8: whole
// characters and a few bytes that are no UTF-8 on their own.
std::string randomText(std::mt19937& random) {
  using namespace std::string_literals;
  static const std::vector<std::string> pieces = {
      "\0"s,  "=",    ",",       "+",        "\\",
      "#",    ";",    "\"",      "<",        ">",
      " ",    "\t",   "\r",      "\n",       "O",
      "U",    "o",    "0",       "a",        "F",
      "9",    "\x01", "\x7F",    "\xC3\xA9", "\xE2\x82\xAC",
      "\x80", "\xFF", "\xE2\x82"};
  std::uniform_int_distribution<std::size_t> length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string text;
  for (std::size_t n = length(random); n > 0; --n) text += pieces[pick(random)];
  return text;
}

TEST(DnFunctions, RandomBytesGiveAResultOrADirectoryErrorNeverACrash) {
  std::mt19937 random(20240611);
  int escaped = 0;
  for (int round = 0; round < 5000; ++round) {
    const std::string text = randomText(random);
    const std::string prefixed = (round % 2 ? "OU=" : "") + text;
    try {
      childDn(prefixed, round % 3 ? "DC=x,DC=test" : text);
    } catch (const DirectoryError&) {
    }
    try {
      normalizeDn(prefixed + (round % 5 ? ",DC=x" : ""));
    } catch (const DirectoryError&) {
    }
    std::string value;
    try {
      value = escapeDnValue(text);
    } catch (const DirectoryError&) {
      continue;  // libldap escapes UTF-8 text only
    }
    ++escaped;
    // Whatever the value, the escaped text stays one value, and libldap reads
    // back exactly the bytes that went in.
    const std::string dn = "OU=" + value + ",DC=x";
    std::string normalized;
    ASSERT_NO_THROW(normalized = normalizeDn(dn)) << dn;
    EXPECT_EQ(firstValue(normalized), text) << dn;
    EXPECT_EQ(childDn("OU=" + value, "DC=x"), normalized) << dn;
  }
  EXPECT_GT(escaped, 1000);  // the round trip was put to the test
}

}  // namespace
}  // namespace kestrine
