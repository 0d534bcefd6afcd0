// Not a test: prints the texts of the visible top-level windows with the given
// title and of their child windows, one line each, for the end-to-end test to
// read what the program's windows and message boxes say.
//   window_texts.exe TITLE
#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

namespace {

void printText(HWND hwnd) {
  std::array<wchar_t, 4096> text{};
  GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
  if (text[0] != L'\0') std::printf("%s\n", kestrine::toUtf8(text.data()).c_str());
}

BOOL CALLBACK printChild(HWND hwnd, LPARAM) {
  printText(hwnd);
  return TRUE;
}

BOOL CALLBACK printWindow(HWND hwnd, LPARAM title) {
  std::array<wchar_t, 256> caption{};
  GetWindowTextW(hwnd, caption.data(), static_cast<int>(caption.size()));
  if (IsWindowVisible(hwnd) && caption.data() == *reinterpret_cast<const std::wstring*>(title)) {
    EnumChildWindows(hwnd, printChild, 0);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::wstring title = argv[1];
  EnumWindows(printWindow, reinterpret_cast<LPARAM>(&title));
  return 0;
}
