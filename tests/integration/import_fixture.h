#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/smb/smb_context.h"
#include "tests/integration/sandbox.h"

namespace kestrine::testing {

// Whole import runs against the sandbox domain. Every logon and unit name of
// a test carries a tag of its own; TearDown removes the units named through
// unit() and whatever lies on the share under the tag.
class ImportFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sandbox = std::make_unique<Sandbox>(); }
  static void TearDownTestSuite() { sandbox.reset(); }
  void SetUp() override;
  void TearDown() override;

  // A unit name of this test's own, removed afterwards.
  std::string unit(const std::string& name);
  std::string account(const std::string& name) const { return tag + name; }
  std::string unitDn(const std::string& unit) const;
  Entry user(const std::string& unit, const std::string& commonName) const;
  // The DN of the account `name` (a common name) in the first unit.
  std::string userDn(const std::string& name);

  struct Outcome {
    std::string completeText;
    std::vector<std::string> messages;  // "message <buttons> [<title>] <text>"
  };
  // One import run of these lines (each ended with CR LF), as a new process
  // of the program would make it.
  Outcome import(const std::vector<std::string>& lines);
  // A record of ten columns for the account `name` on the sandbox's share.
  std::string line(const std::string& name, const std::string& commonName, const std::string& unit,
                   const std::string& password = "Pa55word!x") const;

  std::string homeFolder(const std::string& name) const;
  // The security descriptor of a file or folder on the share, as `smb` reads it.
  std::string descriptor(const std::string& path) {
    return smb.securityDescriptor(*parseUncPath(path));
  }
  // The access entries of a file or folder on the share, as SID:type/flags/mask.
  std::vector<std::string> accessEntries(const std::string& path);
  // Full control for BUILTIN\Administrators and the account `name` (a common
  // name in the first unit), with these inheritance flags.
  std::vector<std::string> fullControlFor(const std::string& name, const char* flags);

  // Everything an import could change about a home folder: the descriptor of
  // every file and folder in it, by path below it, and every file's content.
  std::map<std::string, std::string> folderState(const std::string& path);

  static std::unique_ptr<Sandbox> sandbox;
  // A client of the share of the tests' own, which arranges and reads access
  // lists; the run and the file server tests use newFileServer().
  SmbContext smb;
  std::string tag;
  std::filesystem::path directory;
  std::vector<std::string> units;
};

}  // namespace kestrine::testing
