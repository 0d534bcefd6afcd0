#include "platform/windows/cacls_command.h"

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

}  // namespace
}  // namespace kestrine
