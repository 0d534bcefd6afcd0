#include "tests/fakes/fakes.h"

#include <cerrno>
#include <variant>

#include "platform/directory/directory_values.h"
#include "platform/directory/dn.h"
#include "platform/directory_link.h"

namespace kestrine::testing {

class FakeObject : public DirectoryObject {
 public:
  FakeObject(FakeDirectory& directory, std::string dn, std::string className, bool inDirectory)
      : directory_(directory),
        dn_(std::move(dn)),
        className_(std::move(className)),
        inDirectory_(inDirectory) {}

  std::string Get(const std::string& name) override {
    record("Get " + name);
    if (dn_.empty() && name == "defaultNamingContext") return directory_.namingContext;
    const auto object = directory_.objects.find(dn_);
    if (!dn_.empty() && object != directory_.objects.end()) {
      const auto value = object->second.find(name);
      if (value != object->second.end()) return value->second;
    }
    throw DirectoryError(16, "no such attribute " + name);
  }

  std::shared_ptr<DirectoryObject> Create(const std::string& className,
                                          const std::string& relativeName) override {
    record("Create " + className + " " + relativeName);
    return std::make_shared<FakeObject>(directory_, childDn(relativeName, dn_), className, false);
  }

  void Put(const std::string& name, const PropertyValue& value) override {
    const std::string text = std::holds_alternative<std::string>(value)
                                 ? std::get<std::string>(value)
                                 : std::to_string(std::get<std::int16_t>(value));
    record("Put " + name + "=" + text);
    held_[name] = text;
  }

  void Forget(const std::string& name) override {
    record("Forget " + name);
    held_.erase(name);
  }

  void SetInfo() override {
    std::string names;
    for (const auto& [name, value] : held_) names += " " + name;
    record("SetInfo " + dn_ + names);
    auto& objects = directory_.objects;
    if (!inDirectory_) {
      if (objects.count(dn_)) throw DirectoryError(kAlreadyExists, "add " + dn_ + ": exists");
      objects[dn_]["objectClass"] = className_;
      if (className_ == "User")
        objects[dn_]["objectSid"] = fakeObjectSid(directory_.accountsAdded++);
      inDirectory_ = true;
    }
    for (const auto& [name, value] : held_) objects[dn_][name] = value;
    held_.clear();
  }

  void SetPassword(const std::string& password) override {
    record("SetPassword " + dn_);
    if (!inDirectory_) throw DirectoryError(kNoSuchObject, dn_ + " is not in the directory");
    directory_.objects[dn_]["password"] = password;
  }

 private:
  void record(const std::string& entry) {
    directory_.log_.add(entry);
    directory_.failIfListed(entry);
  }

  FakeDirectory& directory_;
  std::string dn_;
  std::string className_;
  bool inDirectory_;
  std::map<std::string, std::string> held_;
};

std::string fakeObjectSid(std::uint32_t n) {
  // Revision 1, five sub-authorities, authority 5 (NT), then 21-1-2-3-<rid>.
  std::string sid("\x01\x05\x00\x00\x00\x00\x00\x05", 8);
  for (const std::uint32_t part : {21u, 1u, 2u, 3u, 1000 + n}) {
    for (int shift = 0; shift < 32; shift += 8) sid += static_cast<char>(part >> shift & 0xFF);
  }
  return sid;
}

std::string fakeSidText(std::uint32_t n) {
  return "S-1-5-21-1-2-3-" + std::to_string(1000 + n);
}

void FakeDirectory::failIfListed(const std::string& entry) {
  for (const auto& prefix : lostWhen_) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      throw ConnectionLost(-1, "no answer: " + entry);
    }
  }
  for (const auto& [prefix, code, kind] : failures_) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      throw DirectoryError(code, "refused: " + entry, kind);
    }
  }
}

std::shared_ptr<DirectoryObject> FakeDirectory::Bind(const std::string& path) {
  log_.add("Bind " + path);
  failIfListed("Bind " + path);
  if (path.rfind("LDAP://", 0) != 0 || path.size() == 7) {
    throw DirectoryError(kInvalidDnSyntax, "\"" + path + "\" is not an LDAP path");
  }
  const std::string name = path.substr(7);
  if (name == "rootDSE") return std::make_shared<FakeObject>(*this, "", "", true);
  const std::string dn = normalizeDn(name);
  if (dn != namingContext && !objects.count(dn)) {
    throw DirectoryError(kNoSuchObject, "no such object " + dn);
  }
  return std::make_shared<FakeObject>(*this, dn, "", true);
}

std::string FakeDirectory::accountDn(const std::string& logonName) {
  log_.add("find account " + logonName);
  failIfListed("find account " + logonName);
  for (const auto& [dn, values] : objects) {
    const auto name = values.find("sAMAccountName");
    if (name != values.end() && name->second == logonName) return dn;
  }
  return {};
}

Directory::SidHolder FakeDirectory::sidHolder(const std::string& sid) {
  log_.add("find SID " + sid);
  failIfListed("find SID " + sid);
  for (const auto& [dn, values] : objects) {
    const auto objectSid = values.find("objectSid");
    if (objectSid == values.end() || sidText(objectSid->second) != sid) continue;
    const std::string& type = values.at("objectClass");
    if (type != "User" && type != "Computer") return {SidHolder::kOther, {}};
    const auto name = values.find("sAMAccountName");
    return {SidHolder::kAccount, name == values.end() ? std::string() : name->second};
  }
  return {};
}

namespace {

class FakeStream : public TextStream {
 public:
  FakeStream(std::vector<std::string> lines, int failAfter, std::set<std::size_t> overlong,
             CallLog& log)
      : lines_(std::move(lines)),
        failAfter_(failAfter),
        overlong_(std::move(overlong)),
        log_(log) {}
  bool AtEndOfStream() override { return next_ >= lines_.size(); }
  std::string ReadLine() override {
    if (failAfter_ >= 0 && next_ >= static_cast<std::size_t>(failAfter_)) {
      throw FileError(EIO, "Input/output error");
    }
    if (next_ >= lines_.size()) throw FileError(ENODATA, "read past the end");
    if (overlong_.count(++next_)) throw LineTooLong();
    return lines_[next_ - 1];
  }
  void Close() override { log_.add("Close"); }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  int failAfter_;
  std::set<std::size_t> overlong_;
  CallLog& log_;
};

}  // namespace

std::unique_ptr<TextStream> FakeFileSystem::OpenTextFile(const std::string& path) {
  log_.add("OpenTextFile " + path);
  if (openStream) return openStream(path);
  const auto found = files.find(path);
  if (found == files.end()) throw FileError(ENOENT, "No such file or directory");
  return std::make_unique<FakeStream>(found->second, failReadAfterLines, overlongLines, log_);
}

bool FakeFileSystem::FolderExists(const std::string& path) {
  log_.add("FolderExists " + path);
  return folders.count(path) > 0;
}

void FakeFileSystem::CreateFolder(const std::string& path) {
  log_.add("CreateFolder " + path);
  if (const auto refused = refusedFolders.find(path); refused != refusedFolders.end()) {
    const auto kind = refusalKinds.find(path);
    throw FileError(refused->second, "create " + path + ": refused",
                    kind != refusalKinds.end() ? kind->second : FailureKind::kOther);
  }
  if (!folders.insert(path).second) throw FileError(EEXIST, "create " + path + ": exists");
}

bool FakeFileSystem::CreateFolderFor(const std::string& path, const std::string& accountSid) {
  log_.add("CreateFolder " + path + " for " + accountSid);
  if (const auto refused = refusedFolders.find(path); refused != refusedFolders.end()) {
    const auto kind = refusalKinds.find(path);
    throw FileError(refused->second, "create " + path + ": refused",
                    kind != refusalKinds.end() ? kind->second : FailureKind::kOther);
  }
  return !files.count(path) && folders.insert(path).second;
}

void FakeFileSystem::WriteTextFile(const std::string& path, std::string_view text) {
  log_.add("WriteTextFile " + path);
  if (const auto refused = refusedWrites.find(path); refused != refusedWrites.end()) {
    throw FileError(refused->second, "refused");
  }
  written[path] = text;
}

GrantResult FakeFileSystem::grantFullControl(const std::string& folder,
                                             const std::string& accountSid,
                                             bool administratorsOwn) {
  log_.add("grant " + folder + " " + accountSid + (administratorsOwn ? " Administrators own" : ""));
  const auto code = grantCodes.find(folder);
  if (code == grantCodes.end() || code->second == 0) return {};
  return {code->second, "refused"};
}

std::vector<std::string> FakeFileSystem::grantees(const std::string& folder) {
  log_.add("grantees " + folder);
  const auto found = granteesOf.find(folder);
  return found == granteesOf.end() ? std::vector<std::string>{} : found->second;
}

std::shared_ptr<Shell> FakeFileSystem::createShell() {
  if (failShellCreation) throw PlatformError(429, "cannot create the shell object");
  return std::shared_ptr<Shell>(std::shared_ptr<Shell>{}, this);
}

std::shared_ptr<FileSystem> FakeFileSystem::createFileSystem() {
  if (failCreation) throw PlatformError(429, "cannot create the file system object");
  // The fake outlives every run in a test; share it without owning it.
  return std::shared_ptr<FileSystem>(std::shared_ptr<FileSystem>{}, this);
}

}  // namespace kestrine::testing
