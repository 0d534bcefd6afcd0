#include "tests/integration/import_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/directory/dn.h"
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
#include "platform/linux/smb/smb_permissions.h"
#include "run/import_run.h"
#include "tests/fakes/fakes.h"

namespace kestrine::testing {

std::unique_ptr<Sandbox> ImportFixture::sandbox;

void ImportFixture::SetUp() {
  // Two letters: the tests of one process never share a tag.
  static int counter = 0;
  const int n = counter++;
  tag = "k" + std::to_string(getpid() % 100000) + static_cast<char>('a' + n / 26 % 26) +
        static_cast<char>('a' + n % 26);
  directory = std::filesystem::temp_directory_path() / ("kestrine-" + tag);
  std::filesystem::create_directories(directory);
}

void ImportFixture::TearDown() {
  for (const auto& unit : units) sandbox->removeTree(unitDn(unit));
  sandbox->removeFromShare(tag);
  std::filesystem::remove_all(directory);
}

std::string ImportFixture::unit(const std::string& name) {
  units.push_back(tag + " " + name);
  return units.back();
}

std::string ImportFixture::unitDn(const std::string& unit) const {
  return childDn("OU=" + escapeDnValue(unit), sandbox->domainDn());
}

Entry ImportFixture::user(const std::string& unit, const std::string& commonName) const {
  return sandbox->read(childDn("cn=" + escapeDnValue(commonName), unitDn(unit)));
}

std::string ImportFixture::userDn(const std::string& name) {
  return sandbox->read(childDn("cn=" + escapeDnValue(name), unitDn(units.front()))).dn;
}

ImportFixture::Outcome ImportFixture::import(const std::vector<std::string>& lines) {
  const auto path = directory / "users.csv";
  std::ofstream file(path, std::ios::binary);
  for (const auto& line : lines) file << line << "\r\n";
  file.close();
  CallLog log;
  RecordingView view(log, path.string());
  LdapDirectory ldap;
  HostServiceObjects services;
  ImportRun(view, ldap, services).run();
  Outcome outcome{view.completeText, {}};
  for (const auto& entry : log.entries) {
    if (entry.rfind("message", 0) == 0) outcome.messages.push_back(entry);
  }
  return outcome;
}

std::string ImportFixture::line(const std::string& name, const std::string& commonName,
                                const std::string& unit, const std::string& password) const {
  return account(name) + "," + commonName + ",First " + name + ",Last " + name + "," + password +
         "," + unit + ",kestrine.test," + sandbox->server() + ",home,scripts\\" + name + ".cmd";
}

std::string ImportFixture::homeFolder(const std::string& name) const {
  return "\\\\" + sandbox->server() + "\\home$\\" + account(name);
}

std::vector<std::string> ImportFixture::accessEntries(const std::string& path) {
  const std::string descriptor = this->descriptor(path);
  std::vector<std::string> entries;
  for (std::size_t at = descriptor.find("ACL:"); at != std::string::npos;
       at = descriptor.find("ACL:", at + 4)) {
    entries.push_back(descriptor.substr(at + 4, descriptor.find(',', at) - at - 4));
  }
  return entries;
}

std::vector<std::string> ImportFixture::fullControlFor(const std::string& name, const char* flags) {
  const Entry entry = sandbox->read(userDn(name));
  const std::string suffix = std::string(":0/") + flags + "/0x001f01ff";
  return {std::string(kAdministratorsSid) + suffix, sidText(first(entry, "objectSid")) + suffix};
}

std::map<std::string, std::string> ImportFixture::folderState(const std::string& path) {
  const UncPath top = *parseUncPath(path);
  const std::filesystem::path local = sandbox->shareDir() + "/" + top.folders.back();
  std::map<std::string, std::string> state{{"acl .", smb.securityDescriptor(top)}};
  for (const auto& item : std::filesystem::recursive_directory_iterator(local)) {
    const std::string below = std::filesystem::relative(item.path(), local).string();
    UncPath remote = top;
    for (const auto& piece : std::filesystem::path(below)) remote = remote.child(piece.string());
    state["acl " + below] = smb.securityDescriptor(remote);
    if (item.is_regular_file()) {
      std::ifstream content(item.path(), std::ios::binary);
      state["content " + below] = std::string(std::istreambuf_iterator<char>(content), {});
    } else {
      state["folder " + below] = "";
    }
  }
  return state;
}

}  // namespace kestrine::testing
