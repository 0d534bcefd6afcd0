#pragma once

#include <string>
#include <string_view>

namespace kestrine {

// UTF-8 inside, UTF-16 at the Win32 calls. Bytes that are not UTF-8 and
// unpaired surrogates become U+FFFD.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view utf16);

// The system's text for a Windows error code, in UTF-8, without its line
// break and closing full stop ("Access is denied"); "Windows error N" when
// the system has no text for it.
std::string windowsErrorText(unsigned long error);  // a DWORD

}  // namespace kestrine
