#pragma once

#include <string>
#include <string_view>

namespace kestrine::smb {

// A path on a file server, \\server\share\a\b, taken apart.
struct SharePath {
  std::string server;
  std::string share;
  std::string path;  // "a\b"; empty for the share's root

  // Both separators count, as on Windows. std::invalid_argument, saying why,
  // for anything that is not \\server\share[\...], and for an element that
  // names no single place: empty, "." or "..", or one holding a control
  // character (U+0000-U+001F, U+007F), which would end a name early.
  static SharePath parse(std::string_view unc);
  std::string unc() const;
  // The same location again with one more name below it; the name is
  // checked as parse() checks an element.
  SharePath child(std::string_view name) const;

  bool operator==(const SharePath&) const = default;
};

// Whether a path names a place on a file server (\\... or //...) rather than
// one on this machine.
bool isUncPath(std::string_view path);

}  // namespace kestrine::smb
