#include "ui/win32/win32_run_view.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "run/import_run.h"
#include "ui/win32/complete.h"
#include "ui/win32/desktop_pump.h"
#include "ui/win32/form1.h"
#include "ui/win32/forms.h"
#include "ui/win32/loading.h"
#include "ui/win32/program_end.h"
#include "ui/win32/summary_box.h"

namespace kestrine::win32 {

namespace {

std::wstring windowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

}  // namespace

void Win32RunView::hideForm1() {
  forms_.form1().hide();
}

std::string Win32RunView::filePathText() {
  return toUtf8(windowText(forms_.form1().FilePath()));
}

void Win32RunView::showLoading() {
  forms_.loading().show();
}

void Win32RunView::hideLoading() {
  forms_.loading().hide();
}

// Only the text: a static control would draw itself at once on a new text,
// and the run's explicit repaint is the one that shows it.
void Win32RunView::setLoadingText(const std::string& text) {
  HWND label = forms_.loading().lblLoading();
  SendMessageW(label, WM_SETREDRAW, FALSE, 0);
  SetWindowTextW(label, toWide(text).c_str());
  SendMessageW(label, WM_SETREDRAW, TRUE, 0);
}

// The run holds the message loop: the label is drawn here and now, and then
// the queue is looked at.
void Win32RunView::repaintLoading() {
  HWND label = forms_.loading().lblLoading();
  InvalidateRect(label, nullptr, FALSE);
  UpdateWindow(label);
  answerDesktop();
}

void Win32RunView::showNotice(const std::string& text) {
  if (!text.empty()) {
    if (!progressText_) progressText_ = toUtf8(windowText(forms_.loading().lblLoading()));
    setLoadingText(text);
  } else if (progressText_) {
    setLoadingText(*progressText_);
    progressText_.reset();
  }
  repaintLoading();
}

void Win32RunView::setCompleteText(const std::string& text) {
  SetWindowTextW(forms_.complete().lblComplete(), toWide(text).c_str());
}

void Win32RunView::showComplete() {
  Complete& complete = forms_.complete();
  complete.show();
  if (GetForegroundWindow() != complete.hwnd()) complete.askForAttention();
}

// The run's boxes all pass buttons 0: OK alone, no icon. Owned by the
// progress window, which is shown while the run goes on, so that a box comes
// to the front with it instead of opening behind other programs' windows
// while the run waits for it; without that window, modal to the whole task.
void Win32RunView::messageBox(const std::string& prompt, int, const std::string& title) {
  HWND owner = forms_.loading().hwnd();
  UINT style = MB_OK | MB_SETFOREGROUND;
  if (!IsWindowVisible(owner)) {
    owner = nullptr;
    style |= MB_TASKMODAL;
  }
  MessageBoxW(owner, toWide(prompt).c_str(),
              toWide(title.empty() ? kApplicationTitle : title).c_str(), style);
}

// Owned by the progress window, as the message boxes are.
void Win32RunView::summaryBox(const RunSummary& summary) {
  HWND owner = forms_.loading().hwnd();
  showSummaryBox(IsWindowVisible(owner) ? owner : nullptr, summary);
}

void Win32RunView::endProgram() {
  win32::endProgram();
}

}  // namespace kestrine::win32
