#include "ui/win32/forms.h"

#include <utility>

#include "ui/win32/complete.h"
#include "ui/win32/form1.h"
#include "ui/win32/loading.h"
#include "ui/win32/program_end.h"

namespace kestrine::win32 {

Forms::Forms(Directory& directory, ServiceObjects& services)
    : view_(*this), run_(view_, directory, services) {}

Forms::~Forms() = default;

Form1& Forms::form1() {
  // One run per process, whatever reaches Command1 after the first click.
  if (!form1_) {
    form1_ = std::make_unique<Form1>([this] {
      if (std::exchange(runStarted_, true)) return;
      // On the window that shows while the run goes on.
      const ShutdownBlock block(loading().hwnd());
      run_.run();
    });
  }
  return *form1_;
}

Loading& Forms::loading() {
  if (!loading_) loading_ = std::make_unique<Loading>();
  return *loading_;
}

Complete& Forms::complete() {
  if (!complete_) complete_ = std::make_unique<Complete>();
  return *complete_;
}

int runMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (PictureWindow::translateKey(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace kestrine::win32
