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
  // no text in a name is read as URL syntax.
  std::string url() const;
  // \\server\share\folder\..., for messages.
  std::string text() const;
  // The same location again with one more name below it.
  UncPath child(const std::string& name) const;
};

bool isUncPath(const std::string& path);

// Nothing for a path that is not a well-formed network path: no server or
// share, an empty element, or "." or ".." (which would leave the folder the
// path names). Both separators count, as they do on Windows.
std::optional<UncPath> parseUncPath(const std::string& path);

}  // namespace kestrine
