#include "platform/cacls_command.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

TEST(CaclsCommand, QuotesThePathAndTheAccount) {
  EXPECT_EQ(caclsCommand("\\\\fs1\\home$\\jdoe", "jdoe"),
            "%COMSPEC% /c Echo Y| cacls \"\\\\fs1\\home$\\jdoe\" /t /c /g Administrators:f "
            "\"jdoe\":F");
  // Blanks and the separators of cmd.exe stay inside their quotes.
  EXPECT_EQ(caclsCommand("\\\\fs 1\\my home$\\j doe&x", "j doe&x|y"),
            "%COMSPEC% /c Echo Y| cacls \"\\\\fs 1\\my home$\\j doe&x\" /t /c /g "
            "Administrators:f \"j doe&x|y\":F");
}

TEST(CaclsCommand, RefusesTextThatCmdWouldStillInterpret) {
  const std::string unsafe[] = {
      "a\"b", "%PATH%", "a^b", "a\nb", "a\rb", std::string("a\0b", 3), std::string("a\x7f")};
  for (const std::string& bad : unsafe) {
    EXPECT_FALSE(caclsCommand("\\\\fs1\\home$\\" + bad, "jdoe")) << bad;
    EXPECT_FALSE(caclsCommand("\\\\fs1\\home$\\jdoe", bad)) << bad;
  }
}

// The Administrators group has another name on a system in another language.
TEST(CaclsCommand, TakesTheGroupsLocalName) {
  EXPECT_EQ(caclsCommand("\\\\fs1\\home$\\jdoe", "jdoe", "Administratoren"),
            "%COMSPEC% /c Echo Y| cacls \"\\\\fs1\\home$\\jdoe\" /t /c /g Administratoren:f "
            "\"jdoe\":F");
  // UTF-8 letters need no quotes; a blank or a separator of cmd.exe does.
  EXPECT_EQ(caclsCommand("D:\\h", "jdoe", "\xD0\x90\xD0\xB4\xD0\xBC"),
            "%COMSPEC% /c Echo Y| cacls \"D:\\h\" /t /c /g \xD0\x90\xD0\xB4\xD0\xBC:f \"jdoe\":F");
  EXPECT_EQ(caclsCommand("D:\\h", "jdoe", "Admins & Co"),
            "%COMSPEC% /c Echo Y| cacls \"D:\\h\" /t /c /g \"Admins & Co\":f \"jdoe\":F");
}

TEST(CaclsCommand, RefusesAGroupNameThatCmdWouldInterpret) {
  for (const std::string bad : {"Admin\"s", "%USERNAME%", "Admins^", "Admins\n", ""}) {
    EXPECT_FALSE(caclsCommand("\\\\fs1\\home$\\jdoe", "jdoe", bad)) << bad;
  }
}

}  // namespace
}  // namespace kestrine
