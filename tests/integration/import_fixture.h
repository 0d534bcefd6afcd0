#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/smb/smb_file_server.h"
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
  // The security descriptor of a file or folder on the share, as `smb` reads
  // it: "CONTROL:0x9404,OWNER:S-...,GROUP:S-...,ACL:S-...:0/0x3/0x001f01ff,...".
  std::string descriptor(const std::string& path);
  // The access entries of a file or folder on the share as smbcacls (Samba's
  // own client) reads them, SID:type/flags/mask: "S-1-5-32-544:0/0x3/0x001f01ff".
  std::vector<std::string> accessEntries(const std::string& path);
  // The flags of smbcacls's CONTROL line: "PD" for a protected DACL ("DP"
  // only says that there is one).
  std::vector<std::string> controlFlags(const std::string& path);
  // The same, as smbcacls prints it whole.
  std::string smbcacls(const std::string& path, const std::string& options = "--numeric");
  // Full control for BUILTIN\Administrators and the account `name` (a common
  // name in the first unit), with these inheritance flags ("0x3", "0x0").
  std::vector<std::string> fullControlFor(const std::string& name, const char* flags);
  // Replaces the access list of a file or folder on the share by full control
  // for each SID, inherited below (OI|CI), and read access for BUILTIN\Users
  // when asked, protected, as a client of the tests' own.
  void setAccessList(const std::string& path, const std::vector<std::string>& fullControl,
                     bool usersMayRead = false);

  // Everything an import could change about a home folder: the descriptor of
  // every file and folder in it, by path below it, and every file's content.
  std::map<std::string, std::string> folderState(const std::string& path);

  static std::unique_ptr<Sandbox> sandbox;
  // A client of the share of the tests' own, which arranges and reads access
  // lists; the run and the file server tests use newFileServer().
  SmbFileServer smb;
  std::string tag;
  std::filesystem::path directory;
  std::vector<std::string> units;
};

}  // namespace kestrine::testing
