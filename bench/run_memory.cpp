// run-memory CSV-FILE: runs the import over the file against a directory and a
// share that answer at once, then prints the run's peak resident memory in KiB:
// the memory of the CSV path alone (reading, splitting, the run state), without
// what a real directory connection holds.
#include <sys/resource.h>

#include <cstdio>

#include "bench/silent_view.h"
#include "platform/linux/local_file_system.h"
#include "run/import_run.h"

namespace {

using namespace kestrine;

class InstantObject : public DirectoryObject {
 public:
  std::string Get(const std::string& name) override {
    // S-1-5-21-1-2-3-1000 for objectSid.
    if (name == "objectSid")
      return {"\x01\x05\0\0\0\0\0\x05\x15\0\0\0\x01\0\0\0\x02\0\0\0\x03\0\0\0\xE8\x03\0\0", 28};
    return "DC=bench,DC=test";
  }
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
  std::string accountDn(const std::string&) override { return {}; }
  SidHolder sidHolder(const std::string&) override { return {}; }
};

// The CSV file from the disk; folders and grants that succeed at once.
class InstantServices : public ServiceObjects, public FileSystem, public Shell {
 public:
  std::shared_ptr<Shell> createShell() override { return {std::shared_ptr<Shell>{}, this}; }
  std::shared_ptr<FileSystem> createFileSystem() override {
    return {std::shared_ptr<FileSystem>{}, this};
  }
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override {
    return files_.OpenTextFile(path);
  }
  bool FolderExists(const std::string&) override { return true; }
  void CreateFolder(const std::string&) override {}
  bool CreateFolderFor(const std::string&, const std::string&) override { return true; }
  void WriteTextFile(const std::string&, std::string_view) override {}
  GrantResult grantFullControl(const std::string&, const std::string&, bool) override { return {}; }
  std::vector<std::string> grantees(const std::string&) override { return {}; }

 private:
  LocalFileSystem files_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CSV-FILE\n", argv[0]);
    return 2;
  }
  SilentView view(argv[1]);
  InstantDirectory directory;
  InstantServices services;
  ImportRun run(view, directory, services);
  run.run();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak_rss_kib=%ld\n", usage.ru_maxrss);
  return 0;
}
