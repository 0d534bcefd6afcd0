#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/service_objects.h"
#include "run/run_view.h"

namespace kestrine::testing {

// Every call on the fakes below, in order, so that tests can see how directory
// operations and window changes interleave.
struct CallLog {
  std::vector<std::string> entries;
  void add(std::string entry) { entries.push_back(std::move(entry)); }
};

// The objectSid, binary as the directory gives it, of the n-th account that a
// fake directory adds (from 0); as text, S-1-5-21-1-2-3-<1000 + n>.
std::string fakeObjectSid(std::uint32_t n);
std::string fakeSidText(std::uint32_t n);

// A directory held in memory. Operations are logged as
//   Bind <path> | Get <name> | Create <class> <rdn> | Put <name>=<value> |
//   Forget <name> | SetInfo <dn> | SetPassword <dn> | find account <logon> |
//   find SID <sid>
// and any of them can be made to fail by the start of its log text.
class FakeDirectory : public Directory {
 public:
  explicit FakeDirectory(CallLog& log) : log_(log) {}

  std::shared_ptr<DirectoryObject> Bind(const std::string& path) override;
  std::string accountDn(const std::string& logonName) override;
  // By the objects' objectSid: a User or Computer is an account, named by
  // its sAMAccountName.
  SidHolder sidHolder(const std::string& sid) override;

  // The next operations whose log text starts with `prefix` fail with `code`.
  void failWhen(std::string prefix, int code = 53, FailureKind kind = FailureKind::kOther) {
    failures_.push_back({std::move(prefix), code, kind});
  }
  // ... fail as a server that does not answer does: with ConnectionLost.
  void loseConnectionWhen(std::string prefix) { lostWhen_.push_back(std::move(prefix)); }
  void failIfListed(const std::string& entry);

  std::string namingContext = "DC=example,DC=test";
  // Objects in the directory by normalized DN, with the values written to them;
  // an account added gets the next fakeObjectSid().
  std::map<std::string, std::map<std::string, std::string>> objects;
  std::uint32_t accountsAdded = 0;

 private:
  CallLog& log_;
  struct Refusal {
    std::string prefix;
    int code;
    FailureKind kind;
  };
  std::vector<Refusal> failures_;
  std::vector<std::string> lostWhen_;
  friend class FakeObject;
};

// The main window, progress and completion windows as recorded calls.
class RecordingView : public RunView {
 public:
  explicit RecordingView(CallLog& log, std::string filePath = "users.csv")
      : filePath(std::move(filePath)), log_(log) {}

  void hideForm1() override { log_.add("hide Form1"); }
  std::string filePathText() override { return filePath; }
  void showLoading() override { log_.add("show Loading"); }
  void hideLoading() override { log_.add("hide Loading"); }
  void setLoadingText(const std::string& text) override { loadingText = text; }
  void repaintLoading() override { log_.add("lblLoading: " + loadingText); }
  void setCompleteText(const std::string& text) override { completeText = text; }
  void showComplete() override { log_.add("show Complete: " + completeText); }
  void messageBox(const std::string& prompt, int buttons, const std::string& title) override {
    log_.add("message " + std::to_string(buttons) + " [" + title + "] " + prompt);
  }
  // Logged as the message box it is, with its first lines; kept whole, and
  // its failed records saved to `saveAs` when that is set.
  void summaryBox(const RunSummary& box) override {
    messageBox(box.text, 0, "Kestrine");
    summary = box;
    if (!saveAs.empty()) saveResult = box.save(saveAs);
  }
  void endProgram() override { log_.add("end"); }

  std::string filePath;
  std::string loadingText;
  std::string completeText;
  RunSummary summary;
  std::string saveAs;
  std::string saveResult;

 private:
  CallLog& log_;
};

// Files and folders held in memory, and a shell that records its grants.
// Logged as
//   OpenTextFile <path> | Close | FolderExists <path> | CreateFolder <path> |
//   CreateFolder <path> for <account's SID> | WriteTextFile <path> |
//   grant <folder> <account's SID> [Administrators own] | grantees <folder>
// A stream can be made to fail after some lines, a folder creation or a grant
// with a code of choice.
class FakeFileSystem : public FileSystem, public Shell, public ServiceObjects {
 public:
  explicit FakeFileSystem(CallLog& log) : log_(log) {}

  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  bool CreateFolderFor(const std::string& path, const std::string& accountSid) override;
  void WriteTextFile(const std::string& path, std::string_view text) override;
  GrantResult grantFullControl(const std::string& folder, const std::string& accountSid,
                               bool administratorsOwn) override;
  std::vector<std::string> grantees(const std::string& folder) override;
  std::shared_ptr<Shell> createShell() override;
  std::shared_ptr<FileSystem> createFileSystem() override;

  std::map<std::string, std::vector<std::string>> files;  // path -> lines
  std::set<std::string> folders;
  std::map<std::string, int> refusedFolders;                   // path -> errno of CreateFolder
  std::map<std::string, FailureKind> refusalKinds;             // ... and its kind, if not kOther
  std::map<std::string, int> grantCodes;                       // folder -> exit code of its grant
  std::map<std::string, std::vector<std::string>> granteesOf;  // folder -> its access list's SIDs
  std::map<std::string, std::string> written;                  // path -> text of WriteTextFile
  std::map<std::string, int> refusedWrites;                    // path -> errno of WriteTextFile
  int failReadAfterLines = -1;                                 // -1: never
  std::set<std::size_t> overlongLines;  // lines (from 1) read as longer than 1 MiB
  std::function<std::unique_ptr<TextStream>(const std::string&)> openStream;  // in place of files
  bool failCreation = false;
  bool failShellCreation = false;

 private:
  CallLog& log_;
};

}  // namespace kestrine::testing
