// Reads a program's file properties back as Windows shows them (the version
// resource, through GetFileVersionInfoW and VerQueryValueW) and compares them
// with what the build gave it:
//
//   version_check FILE MAJOR.MINOR.PATCH.TWEAK [NAME=VALUE...]
//
// The numbers are the fixed file and product versions; each NAME=VALUE is a
// string of the block that the resource's first Translation entry names, the
// one Explorer shows. Prints every difference; exit status 1 if any.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"

using kestrine::toUtf8;
using kestrine::toWide;

namespace {

int differences = 0;

void differ(const std::string& what, const std::string& got, const std::string& wanted) {
  std::printf("%s: \"%s\", wanted \"%s\"\n", what.c_str(), got.c_str(), wanted.c_str());
  ++differences;
}

std::string fourParts(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: version_check FILE MAJOR.MINOR.PATCH.TWEAK [NAME=VALUE...]\n");
    return 2;
  }
  const std::wstring file = toWide(argv[1]);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) {
    std::printf("%s: no version resource (%s)\n", argv[1],
                kestrine::windowsErrorText(GetLastError()).c_str());
    return 1;
  }
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) {
    std::printf("%s: %s\n", argv[1], kestrine::windowsErrorText(GetLastError()).c_str());
    return 1;
  }

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    std::printf("no fixed file information\n");
    return 1;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != 0xFEEF04BD)
    differ("signature", std::to_string(fixed->dwSignature), std::to_string(0xFEEF04BDu));
  const std::string numbers = argv[2];
  const std::string fileVersion = fourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  const std::string productVersion =
      fourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  if (fileVersion != numbers) differ("fixed file version", fileVersion, numbers);
  if (productVersion != numbers) differ("fixed product version", productVersion, numbers);

  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
      length < 2 * sizeof(WORD)) {
    std::printf("no Translation entry\n");
    return 1;
  }
  const auto* translation = static_cast<const WORD*>(value);
  wchar_t block[32];
  std::swprintf(block, 32, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);

  for (int i = 3; i < argc; ++i) {
    const std::string expected = argv[i];
    const std::size_t equals = expected.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "not NAME=VALUE: %s\n", argv[i]);
      return 2;
    }
    const std::string name = expected.substr(0, equals);
    const std::string wanted = expected.substr(equals + 1);
    const std::wstring path = block + toWide(name);
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length)) {
      differ(name + " in " + toUtf8(block), "(missing)", wanted);
      continue;
    }
    // The length counts the closing null, when there is one.
    std::wstring text(static_cast<const wchar_t*>(value), length);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (toUtf8(text) != wanted) differ(name, toUtf8(text), wanted);
  }
  if (differences == 0) std::printf("%s: version resource as built\n", argv[1]);
  return differences == 0 ? 0 : 1;
}
