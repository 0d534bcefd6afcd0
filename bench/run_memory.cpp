// run-memory CSV-FILE: runs the import over the file against a directory that
// answers at once, then prints the run's peak resident memory in KiB.
#include <sys/resource.h>

#include <cstdio>

#include "platform/posix/local_file_system.h"
#include "run/import_run.h"
#include "run/run_view.h"

namespace {

using namespace kestrine;

class InstantObject : public DirectoryObject {
 public:
  std::string Get(const std::string&) override { return "DC=bench,DC=test"; }
  std::shared_ptr<DirectoryObject> Create(const std::string&, const std::string&) override {
    return std::make_shared<InstantObject>();
  }
  void Put(const std::string&, const PropertyValue&) override {}
  void Forget(const std::string&) override {}
  void SetInfo() override {}
  void SetPassword(const std::string&) override {}
};

class InstantDirectory : public Directory {
 public:
  std::shared_ptr<DirectoryObject> Bind(const std::string&) override {
    return std::make_shared<InstantObject>();
  }
};

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
  void endProgram() override {}

 private:
  std::string path_;
  std::string text_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CSV-FILE\n", argv[0]);
    return 2;
  }
  SilentView view(argv[1]);
  InstantDirectory directory;
  LocalServiceObjects services;
  ImportRun run(view, directory, services);
  run.run();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak_rss_kib=%ld\n", usage.ru_maxrss);
  return 0;
}
