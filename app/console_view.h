#pragma once

#include <cstdio>
#include <string>

#include "run/run_view.h"

namespace kestrine {

// The run's windows as lines of text: each repainted progress text, each
// message and the completion text. For developers' runs and benchmarks.
class ConsoleView : public RunView {
 public:
  ConsoleView(std::string filePath, std::FILE* out) : filePath_(std::move(filePath)), out_(out) {}

  void hideForm1() override {}
  std::string filePathText() override { return filePath_; }
  void showLoading() override {}
  void hideLoading() override {}
  void setLoadingText(const std::string& text) override { loadingText_ = text; }
  void repaintLoading() override;
  void setCompleteText(const std::string& text) override { completeText_ = text; }
  void showComplete() override;
  void messageBox(const std::string& prompt, int buttons, const std::string& title) override;
  // Every line, as a message.
  void summaryBox(const RunSummary& summary) override;
  [[noreturn]] void endProgram() override;

 private:
  std::string filePath_;
  std::FILE* out_;
  std::string loadingText_;
  std::string completeText_;
};

}  // namespace kestrine
