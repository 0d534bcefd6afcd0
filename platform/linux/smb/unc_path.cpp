#include "platform/linux/smb/unc_path.h"

#include <cerrno>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/text/path_names.h"
#include "platform/text/printable.h"

namespace kestrine {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string percentEncoded(const std::string& text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", byte);
      encoded += escape;
    }
  }
  return encoded;
}

}  // namespace

bool isUncPath(const std::string& path) {
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

std::optional<UncPath> parseUncPath(const std::string& path) {
  if (!isUncPath(path)) return std::nullopt;
  std::vector<std::string> elements(1);
  for (std::size_t i = 2; i < path.size(); ++i) {
    if (isSeparator(path[i])) {
      elements.emplace_back();
    } else {
      elements.back() += path[i];
    }
  }
  if (elements.size() < 2) return std::nullopt;
  for (const std::string& element : elements) {
    if (element.empty() || element == "." || element == "..") return std::nullopt;
  }
  return UncPath{elements[0], elements[1], {elements.begin() + 2, elements.end()}};
}

std::string UncPath::url() const {
  std::vector<const std::string*> elements{&server, &share};
  for (const std::string& folder : folders) elements.push_back(&folder);
  std::string result = "smb:/";
  for (const std::string* element : elements) {
    const std::string problem = pathElementProblem(*element);
    if (!problem.empty()) {
      throw FileError(EINVAL, text() + ": the name \"" + printable(*element) + "\" " + problem);
    }
    result += "/" + percentEncoded(*element);
  }
  return result;
}

std::string UncPath::text() const {
  std::string result = "\\\\" + printable(server) + "\\" + printable(share);
  for (const std::string& folder : folders) result += "\\" + printable(folder);
  return result;
}

UncPath UncPath::child(const std::string& name) const {
  UncPath result = *this;
  result.folders.push_back(name);
  return result;
}

}  // namespace kestrine
