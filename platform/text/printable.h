#pragma once

#include <string>
#include <string_view>

// Text for messages that a byte cannot turn into something else on the screen
// or in a C string: the same rule for the CSV file's columns and for paths.

namespace kestrine {

// U+0000-U+001F and U+007F: bytes that mean other things to the directory, to
// SMB paths and to C strings than the text shows (a NUL ends a name early).
bool isControlCharacter(char c);

// The text with every control character shown as its Unicode control picture
// (U+2400 + c, U+2421 for DEL), so that a message stays printable.
std::string printable(std::string_view text);

// "U+001F" for a character.
std::string codePoint(unsigned char character);

}  // namespace kestrine
