#pragma once

#include <optional>
#include <string>

namespace kestrine {

// The command line that the Windows shell object runs to grant the
// Administrators group and an account full control of a home folder and of
// everything below it:
//   %COMSPEC% /c Echo Y| cacls "<folder>" /t /c /g Administrators:f "<account>":F
// The folder and the account come from the CSV file. Quoting keeps blanks and
// & | < > inside one argument; a name holding a double quote, a percent sign,
// a caret or a control character could still change what cmd.exe runs, so it
// gets no command at all. The group has its local name on a system in another
// language ("Administratoren"); a name other than letters, digits, - _ and .
// is quoted, and refused by the same rule or when empty.
std::optional<std::string> caclsCommand(const std::string& homeFolder,
                                        const std::string& accountName,
                                        const std::string& administrators = "Administrators");

}  // namespace kestrine
