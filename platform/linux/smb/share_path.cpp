#include "platform/linux/smb/share_path.h"

#include <stdexcept>
#include <vector>

#include "platform/text/path_names.h"
#include "platform/text/printable.h"

namespace kestrine::smb {
namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

void checkElement(std::string_view unc, const std::string& element) {
  if (const std::string problem = pathElementProblem(element); !problem.empty()) {
    throw std::invalid_argument(printable(std::string(unc)) + ": the name \"" + printable(element) +
                                "\" " + problem);
  }
}

}  // namespace

bool isUncPath(std::string_view path) {
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

SharePath SharePath::parse(std::string_view unc) {
  if (!isUncPath(unc)) {
    throw std::invalid_argument(printable(std::string(unc)) +
                                ": not a path \\\\server\\share\\...");
  }
  std::vector<std::string> elements(1);
  for (std::size_t i = 2; i < unc.size(); ++i) {
    if (isSeparator(unc[i])) {
      elements.emplace_back();
    } else {
      elements.back() += unc[i];
    }
  }
  if (elements.size() < 2) {
    throw std::invalid_argument(printable(std::string(unc)) + ": names no share");
  }
  for (const std::string& element : elements) checkElement(unc, element);
  SharePath path{elements[0], elements[1], ""};
  for (std::size_t i = 2; i < elements.size(); ++i) {
    if (!path.path.empty()) path.path += '\\';
    path.path += elements[i];
  }
  return path;
}

std::string SharePath::unc() const {
  return "\\\\" + server + "\\" + share + (path.empty() ? "" : "\\" + path);
}

SharePath SharePath::child(std::string_view name) const {
  checkElement(unc() + "\\" + std::string(name), std::string(name));
  SharePath out = *this;
  if (!out.path.empty()) out.path += '\\';
  out.path += name;
  return out;
}

}  // namespace kestrine::smb
