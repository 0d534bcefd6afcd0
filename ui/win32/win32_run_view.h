#pragma once

#include <optional>
#include <string>

#include "run/run_view.h"

namespace kestrine::win32 {

class Forms;

// The run's view of the three windows and of the message boxes.
class Win32RunView : public RunView {
 public:
  explicit Win32RunView(Forms& forms) : forms_(forms) {}

  void hideForm1() override;
  std::string filePathText() override;
  void showLoading() override;
  void hideLoading() override;
  void setLoadingText(const std::string& text) override;
  void repaintLoading() override;
  void setCompleteText(const std::string& text) override;
  void showComplete() override;
  void messageBox(const std::string& prompt, int buttons, const std::string& title) override;
  void summaryBox(const RunSummary& summary) override;
  [[noreturn]] void endProgram() override;

  // Shows a text in place of the progress text, drawn at once; "" shows the
  // progress text again. A server call's wait tells the administrator so.
  void showNotice(const std::string& text);

 private:
  Forms& forms_;
  std::optional<std::string> progressText_;  // while a notice is shown
};

}  // namespace kestrine::win32
