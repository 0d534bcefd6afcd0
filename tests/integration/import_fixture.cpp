#include "tests/integration/import_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/directory/dn.h"
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
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

namespace {

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

}  // namespace

std::string ImportFixture::descriptor(const std::string& path) {
  const smb::SecurityDescriptor read = smb.readSecurity(path);
  std::string text = "CONTROL:" + hex(read.control, 4);
  if (read.owner) text += ",OWNER:" + read.owner->toString();
  if (read.group) text += ",GROUP:" + read.group->toString();
  for (const smb::Ace& ace : read.dacl ? read.dacl->aces : std::vector<smb::Ace>{}) {
    text += ",ACL:" + (ace.sid ? ace.sid->toString() : "?") + ":" + std::to_string(ace.type) + "/" +
            hex(ace.flags, 1) + "/" + hex(ace.mask, 8);
  }
  return text;
}

std::string ImportFixture::smbcacls(const std::string& path, const std::string& options) {
  const smb::SharePath at = smb::SharePath::parse(path);
  std::string inShare = at.path.empty() ? "\\" : at.path;
  for (char& c : inShare) c = c == '\\' ? '/' : c;
  const std::string command = "smbcacls --use-kerberos=required --no-pass " + options +
                              " -s \"$KESTRINE_SANDBOX_DIR/etc/smb.conf\" '//" + at.server + "/" +
                              at.share + "' '" + inShare + "' 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    if (pclose(pipe) != 0) ADD_FAILURE() << command << ":\n" << output;
  }
  return output;
}

std::vector<std::string> ImportFixture::accessEntries(const std::string& path) {
  std::istringstream lines(smbcacls(path));
  std::vector<std::string> entries;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("ACL:", 0) == 0) entries.push_back(line.substr(4));
  }
  return entries;
}

std::vector<std::string> ImportFixture::controlFlags(const std::string& path) {
  std::istringstream lines(smbcacls(path, ""));  // the flags by name
  std::vector<std::string> flags;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("CONTROL:", 0) != 0) continue;
    std::istringstream each(line.substr(8));
    for (std::string flag; std::getline(each, flag, '|');) flags.push_back(flag);
  }
  return flags;
}

std::vector<std::string> ImportFixture::fullControlFor(const std::string& name, const char* flags) {
  const Entry entry = sandbox->read(userDn(name));
  const std::string suffix = std::string(":0/") + flags + "/0x001f01ff";
  return {"S-1-5-32-544" + suffix, sidText(first(entry, "objectSid")) + suffix};
}

void ImportFixture::setAccessList(const std::string& path,
                                  const std::vector<std::string>& fullControl, bool usersMayRead) {
  std::vector<smb::Sid> sids;
  for (const std::string& sid : fullControl) sids.push_back(smb::Sid::parse(sid));
  smb::SecurityDescriptor descriptor = smb::protectedFullControl(sids, true);
  if (usersMayRead) {
    constexpr std::uint32_t kReadAndExecute = 0x001200A9;
    descriptor.dacl->aces.push_back({smb::ACCESS_ALLOWED_ACE_TYPE,
                                     smb::OBJECT_INHERIT_ACE | smb::CONTAINER_INHERIT_ACE,
                                     kReadAndExecute,
                                     smb::Sid::parse("S-1-5-32-545"),
                                     {}});
  }
  smb.setSecurity(path, descriptor);
}

std::map<std::string, std::string> ImportFixture::folderState(const std::string& path) {
  const smb::SharePath top = smb::SharePath::parse(path);
  const std::filesystem::path local = sandbox->shareDir() + "/" + top.path;
  std::map<std::string, std::string> state{{"acl .", descriptor(path)}};
  for (const auto& item : std::filesystem::recursive_directory_iterator(local)) {
    const std::string below = std::filesystem::relative(item.path(), local).string();
    smb::SharePath remote = top;
    for (const auto& piece : std::filesystem::path(below)) remote = remote.child(piece.string());
    state["acl " + below] = descriptor(remote.unc());
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
