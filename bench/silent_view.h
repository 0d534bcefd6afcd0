#pragma once

#include <cstdio>
#include <string>

#include "run/run_view.h"

namespace kestrine {

// Windows that print only the completion text and the messages.
class SilentView : public RunView {
 public:
  explicit SilentView(std::string path) : path_(std::move(path)) {}
  void hideForm1() override {}
  std::string filePathText() override { return path_; }
  void showLoading() override {}
  void hideLoading() override {}
  void setLoadingText(const std::string& text) override { text_ = text; }
  void repaintLoading() override {}
  void setCompleteText(const std::string& text) override { text_ = text; }
  void showComplete() override { std::printf("%s\n", text_.c_str()); }
  void messageBox(const std::string& prompt, int, const std::string&) override {
    std::printf("%s\n", prompt.c_str());
  }
  void summaryBox(const RunSummary& summary) override {
    std::printf("%s\n", summary.details.c_str());
  }
  void endProgram() override {}

 private:
  std::string path_;
  std::string text_;
};

}  // namespace kestrine
