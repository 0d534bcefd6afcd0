#include "platform/dn.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestrine
