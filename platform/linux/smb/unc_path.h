#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrine {

// A network path \\server\share\folder\... taken apart.
struct UncPath {
  std::string server;
  std::string share;
  std::vector<std::string> folders;  // below the share; empty for the share itself

  // smb://server/share/folder/... with every piece percent-encoded, so that
  // no text in a name is read as URL syntax. Throws FileError (EINVAL) for a
  // piece that names no single place: empty, "." or "..", holding a separator
  // or a control character (U+0000-U+001F, U+007F). libsmbclient decodes the
  // URL into C strings, so "a%00b" would reach the server as "a".
  std::string url() const;
  // \\server\share\folder\..., for messages; control characters are shown as
  // their Unicode pictures (U+2400...).
  std::string text() const;
  // The same location again with one more name below it.
  UncPath child(const std::string& name) const;

  bool operator==(const UncPath&) const = default;
};

bool isUncPath(const std::string& path);

// Nothing for a path that is not a well-formed network path: no server or
// share, an empty element, or "." or ".." (which would leave the folder the
// path names). Both separators count, as they do on Windows.
std::optional<UncPath> parseUncPath(const std::string& path);

}  // namespace kestrine
