#include "platform/directory/dn.h"

#include <gtest/gtest.h>
#include <ldap.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/directory.h"

namespace kestrine {
namespace {

using namespace std::string_literals;
using Texts = std::vector<std::string>;

// libldap is the reference: its LDAPv3 parser, and its "pretty" writer.
struct LdapName {
  std::string text;
  std::string firstValue;
  std::size_t relativeNames = 0;
};

std::optional<LdapName> ldapParse(const std::string& text) {
  if (text.empty()) return LdapName{};
  // libldap reads C strings, and asserts on some that start with a NUL.
  if (text.find('\0') != std::string::npos) return std::nullopt;
  LDAPDN dn = nullptr;
  berval bv{static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
  if (ldap_bv2dn(&bv, &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return std::nullopt;
  char* out = nullptr;
  const int rc = ldap_dn2str(dn, &out, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY);
  std::optional<LdapName> name;
  if (rc == LDAP_SUCCESS && out) {
    name = LdapName{out, std::string(dn[0][0]->la_value.bv_val, dn[0][0]->la_value.bv_len)};
    for (LDAPDN rdn = dn; *rdn; ++rdn) ++name->relativeNames;
  }
  ldap_memfree(out);
  ldap_dnfree(dn);
  return name;
}

std::optional<std::string> ours(std::string (*f)(std::string_view), const std::string& text) {
  try {
    return f(text);
  } catch (const DirectoryError& e) {
    EXPECT_EQ(e.code(), 34);
    return std::nullopt;
  }
}

// Where we part from libldap on purpose. It takes attribute options
// ("ou;lang-en=x") and drops them; takes "#" with no hex digits as an empty
// value; drops what follows a hex value and a blank ("#0A junk"); keeps a
// blank after an escaped backslash (the text `a\\ ,`) as if it were escaped;
// and takes UTF-8 forms of no Unicode character, which Windows could not turn
// into UTF-16. We refuse all but the blank, which we drop as insignificant.
bool differsOnPurpose(const std::string& text) {
  const auto hex = [&](std::size_t k) {
    return std::string_view("0123456789ABCDEFabcdef").find(text[k]) != std::string_view::npos;
  };
  bool inType = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ';' && inType) return true;
    if (text.compare(i, 2, "\\\\") == 0 && i + 2 < text.size() &&
        std::string_view(" \t\n\r").find(text[i + 2]) != std::string_view::npos) {
      return true;
    }
    inType = c == ',' || c == '+' || (inType && c != '=');
    if (c != '#') continue;
    std::size_t end = i + 1;
    while (end + 1 < text.size() && hex(end) && hex(end + 1)) end += 2;
    const std::size_t next = text.find_first_not_of(" \t\n\r", end);
    const bool separator = next == std::string::npos || text[next] == ',' || text[next] == '+';
    if (end == i + 1 ? next != end || (next != std::string::npos && separator)
                     : next > end && !separator) {
      return true;
    }
  }
  return text.find("\xED\xA0") != std::string::npos || text.find("\xF4\x90") != std::string::npos ||
         text.find('\xF8') != std::string::npos;
}

TEST(EscapeAttributeValue, WritesWhatLibldapWritesAndReadsBackAsTheValue) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a=b;c", "a\\3Db\\3Bc"},
      {" lead#", "\\20lead#"},
      {"Doe+John", "Doe\\2BJohn"},
      {"Back\\slash <x>", "Back\\5Cslash \\3Cx\\3E"},
      {"\"q\"#", "\\22q\\22#"},
      {"#", "\\23"},
      {"   ", "\\20 \\20"},
      {"\tx\r\n", "\\09x\r\\0A"},
      {"a\tb\x0B", "a\tb\x0B"},
      {"a\0b"s, "a\\00b"},
      {"", ""},
      {"Z\xC3\xBCrich/\xE2\x82\xAC", "Z\xC3\xBCrich/\xE2\x82\xAC"}};
  for (const auto& [value, escaped] : cases) {
    EXPECT_EQ(escapeDnValue(value), escaped) << value;
    const auto back = ldapParse("OU=" + escaped);
    EXPECT_TRUE(back && back->text == "OU=" + escaped && back->firstValue == value) << escaped;
  }
}

TEST(EscapeAttributeValue, RefusesBytesThatAreNoUnicodeText) {
  // Broken sequences, overlong forms; then surrogates, past U+10FFFF and five
  // bytes, which libldap takes.
  for (const std::string& bad :
       Texts{"\xC3", "\xFF", "a\x80", "\xE2\x82", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80",
             "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"}) {
    EXPECT_FALSE(ours(escapeDnValue, bad)) << bad;
  }
  EXPECT_TRUE(ours(escapeDnValue, "\xF4\x8F\xBF\xBF \xEF\xBF\xBF"));  // the last ones
}

TEST(CanonicalDn, DropsInsignificantBlanksAndReescapesAsLibldapDoes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"OU=Sales ,DC=example,DC=test", "OU=Sales,DC=example,DC=test"},
      {" ou = a + cn = b ,\tdc=x\n", "ou=a+cn=b,dc=x"},
      {"OU=\\ a\\20  ,DC=x", "OU=\\20a\\20,DC=x"},
      {"OU=a\\,b\\2c\\3d=\\#,DC=\\41", "OU=a\\2Cb\\2C\\3D\\3D#,DC=A"},
      {"OU=\\c3\\A9\xC3\xA9", "OU=\xC3\xA9\xC3\xA9"},
      {"OU=#0a0B ,DC=x", "OU=#0A0B,DC=x"},
      {"OU=,DC=x+CN=   ", "OU=,DC=x+CN="},
      {"1.2.840=a,0=b,x-1=c/\x01\\00", "1.2.840=a,0=b,x-1=c/\x01\\00"}};
  for (const auto& [dn, canonical] : cases) {
    EXPECT_EQ(normalizeDn(dn), canonical) << dn;
    EXPECT_EQ(ldapParse(dn).value().text, canonical) << dn;
  }
  EXPECT_EQ(normalizeDn(""), "");
}

TEST(CanonicalDn, RefusesWhatLibldapRefuses) {
  for (const std::string& bad :
       Texts{" ",          "x",       "=a",        "OU=a,",      "OU=a,,DC=x", "OU=a+",
             "OU=a;DC=x",  "OU=a\"b", "OU=<",      "OU=a\\",     "OU=a\\4",    "OU=\\q",
             "OU=#",       "OU=#0",   "OU=#0Az",   "OU=#0A\\20", "1.=a",       "1a=b",
             "a_b=c",      "O U=a",   "OID.1.2=a", "OU=\\FF",    "OU=\xC3",    "OU=\\C3\\A9\\C3",
             "OU=a,\vDC=x"}) {
    EXPECT_FALSE(ours(normalizeDn, bad)) << bad;
    EXPECT_FALSE(ldapParse(bad)) << bad;
  }
  for (const std::string& bad :
       Texts{"ou;lang-en=a", "OU=#,DC=x", "OU=#0A zz,DC=x", "OU=\xED\xA0\x80"}) {
    EXPECT_FALSE(ours(normalizeDn, bad)) << bad;
    EXPECT_TRUE(ldapParse(bad) && differsOnPurpose(bad)) << bad;
  }
  EXPECT_EQ(normalizeDn("OU=a\\\\ ,DC=x"), "OU=a\\5C,DC=x");
  EXPECT_EQ(ldapParse("OU=a\\\\ ,DC=x").value().text, "OU=a\\5C\\20,DC=x");
  for (const std::string& nul : Texts{"\0"s, "\0OU=a"s, "OU=a\0"s, "OU=a\0,DC=evil"s, "O\0U=a"s}) {
    EXPECT_FALSE(ours(normalizeDn, nul)) << nul.size();
  }
}

TEST(JoinDn, PutsOneRelativeNameInFrontOfItsParent) {
  EXPECT_EQ(childDn("cn=John", "OU=Sales, DC=x"), "cn=John,OU=Sales,DC=x");
  EXPECT_EQ(childDn(" cn = a + sn=b ", ""), "cn=a+sn=b");
  EXPECT_EQ(childDn("OU=" + escapeDnValue("x,OU=Evil"), "DC=x"), "OU=x\\2COU\\3DEvil,DC=x");
  for (const std::string& bad :
       Texts{"cn=a,OU=b", "", " ", "nonsense", "OU=a\\", "OU=a,", "OU=a\0"s}) {
    EXPECT_FALSE(ours([](std::string_view r) { return childDn(r, "DC=x"); }, bad)) << bad;
  }
  for (const std::string& bad : Texts{" ", ",", "DC=x,", "DC=x\\", "DC=\0"s}) {
    EXPECT_FALSE(ours([](std::string_view p) { return childDn("OU=a", p); }, bad)) << bad;
  }
  try {
    childDn("OU=a\0b"s, "DC=x");
    ADD_FAILURE();
  } catch (const DirectoryError& e) {
    EXPECT_STREQ(e.what(), "\"OU=a\\00b\" is not a distinguished name");
  }
}

TEST(AdsPath, EscapesTheSlashThatAdsiSplitsPathsAt) {
  EXPECT_EQ(adsPath("CN=Post 1/2 , DC=x"), "LDAP://CN=Post 1\\/2,DC=x");
  EXPECT_EQ(adsPath("CN=" + escapeDnValue("a\\/b\"")), "LDAP://CN=a\\5C\\/b\\22");
  EXPECT_EQ(adsPath("DC=x"), "LDAP://DC=x");
  EXPECT_FALSE(ours(adsPath, ""));
  EXPECT_FALSE(ours(adsPath, "OU=a\\/b"));  // "\/" belongs to paths, not to names
}

// Pieces of values and names: DN syntax, escapes good and bad, blanks, UTF-8
// whole and broken, NUL.
std::string randomText(std::mt19937& random, std::size_t most) {
  static const Texts kPieces = {"a",    "Z",    "0",        "F",
                                " ",    " ",    "\t",       "\n",
                                "=",    "/",    "OU=",      "#",
                                "#0A",  ",",    "+",        ";",
                                "\"",   "<",    ">",        "\\",
                                "\\,",  "\\2C", "\\2b",     "\\ ",
                                "\\#",  "\\\\", "\\00",     "\\C3\\A9",
                                "\\C3", "\\4",  "\\q",      "\x01",
                                "\x0B", "\x7F", "\xC3\xA9", "\xE2\x82\xAC",
                                "\xC3", "\x80", "\xE2\x82", "\xED\xA0\x80",
                                "\0"s};
  std::string text;
  for (std::size_t n = random() % (most + 1); n > 0; --n)
    text += kPieces[random() % kPieces.size()];
  return text;
}

// Mostly well-formed names, some broken by a stray piece.
std::string randomDn(std::mt19937& random) {
  static const Texts types = {"OU", "cn", "1.2.840", "x-1"};
  static const Texts blanks = {"", "", "", " ", "\t ", "\r\n"};
  static const Texts separators = {",", ",", "+", ", ", " + "};
  std::string dn;
  for (std::size_t n = random() % 3; true; --n) {
    dn += blanks[random() % 6] + types[random() % 4] + blanks[random() % 6] + "=" +
          blanks[random() % 6] + randomText(random, 4) + blanks[random() % 6];
    if (n == 0) break;
    dn += separators[random() % 5];
  }
  if (random() % 4 == 0) dn.insert(random() % (dn.size() + 1), randomText(random, 1));
  return dn;
}

TEST(DistinguishedName, AgreesWithLibldapOnRandomValuesAndNames) {
  std::mt19937 random(4514);
  std::size_t escaped = 0, parsed = 0, joined = 0, differences = 0;
  // Where the two disagree, it must be for one of the reasons above.
  const auto agree = [&](const std::optional<std::string>& mine,
                         const std::optional<std::string>& theirs, bool excused,
                         const std::string& input) {
    if (mine == theirs) return;
    ++differences;
    EXPECT_TRUE(excused) << input << "\nours:    " << mine.value_or("(refused)")
                         << "\nlibldap: " << theirs.value_or("(refused)");
  };
  for (int round = 0; round < 6000; ++round) {
    const std::string value = randomText(random, 8);
    if (const auto mine = ours(escapeDnValue, value)) {
      ++escaped;
      const auto back = ldapParse("OU=" + *mine + ",DC=x");
      EXPECT_TRUE(back && back->text == "OU=" + *mine + ",DC=x" && back->firstValue == value)
          << *mine;
    }

    const std::string dn = randomDn(random);
    const auto canonical = ours(normalizeDn, dn);
    const auto reference = ldapParse(dn);
    agree(canonical, reference ? std::optional(reference->text) : std::nullopt,
          differsOnPurpose(dn), dn);
    if (canonical) ++parsed;

    const std::string parent = round % 3 ? "DC=x" : randomDn(random);
    std::optional<std::string> expected;
    const auto parentReference = ldapParse(parent);
    if (reference && reference->relativeNames == 1 && parentReference) {
      expected =
          reference->text + (parentReference->text.empty() ? "" : ",") + parentReference->text;
    }
    std::optional<std::string> mineJoined;
    try {
      mineJoined = childDn(dn, parent);
      ++joined;
    } catch (const DirectoryError&) {
    }
    agree(mineJoined, expected, differsOnPurpose(dn) || differsOnPurpose(parent),
          dn + " under " + parent);
  }
  // Each comparison met enough accepted inputs to mean something, and the
  // excused differences stay rare.
  EXPECT_GT(escaped, 1500u);
  EXPECT_GT(parsed, 1500u);
  EXPECT_GT(joined, 500u);
  EXPECT_LT(differences, 1000u);
}

}  // namespace
}  // namespace kestrine
