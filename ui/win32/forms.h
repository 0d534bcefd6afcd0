#pragma once

#include <memory>

#include "platform/directory.h"
#include "platform/service_objects.h"
#include "run/import_run.h"
#include "ui/win32/win32_run_view.h"

namespace kestrine::win32 {

class Complete;
class Form1;
class Loading;

// The program's three windows, each a single instance that comes into being,
// invisible, at its first use; and the import run, which lives as long as the
// main window.
class Forms {
 public:
  Forms(Directory& directory, ServiceObjects& services);
  ~Forms();
  Forms(const Forms&) = delete;
  Forms& operator=(const Forms&) = delete;

  Form1& form1();
  Loading& loading();
  Complete& complete();
  Win32RunView& view() { return view_; }

 private:
  Win32RunView view_;
  ImportRun run_;
  std::unique_ptr<Form1> form1_;
  std::unique_ptr<Loading> loading_;
  std::unique_ptr<Complete> complete_;
  bool runStarted_ = false;
};

// Runs the message loop with the dialog keyboard of the windows until WM_QUIT;
// the program normally ends through the program end instead.
int runMessageLoop();

}  // namespace kestrine::win32
