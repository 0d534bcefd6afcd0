#pragma once

#include <memory>

#include "platform/directory.h"
#include "platform/service_objects.h"
#include "run/import_run.h"
#include "ui/qt/qt_run_view.h"

namespace kestrine {

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
  QtRunView& view() { return view_; }

 private:
  QtRunView view_;
  ImportRun run_;
  std::unique_ptr<Form1> form1_;
  std::unique_ptr<Loading> loading_;
  std::unique_ptr<Complete> complete_;
  bool runStarted_ = false;
};

}  // namespace kestrine
