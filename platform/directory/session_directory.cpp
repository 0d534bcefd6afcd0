#include "platform/directory/session_directory.h"

#include <algorithm>

#include "platform/directory/directory_values.h"
#include "platform/directory/dn.h"
#include "platform/directory_link.h"
#include "platform/text/wipe.h"

namespace kestrine {

namespace {

constexpr std::string_view kPathPrefix = "LDAP://";

}  // namespace

// The root and the units this run has read or added, by DN. Records share
// their units, so binding a unit again or adding it again needs no round trip
// once the run knows it; the run is the one writer it counts on while it
// lasts. Accounts are not kept: no later record uses them, and memory stays
// bounded by the number of distinct units however long the file is.
struct KnownEntries {
  std::map<std::string, Entry> byDn;

  static std::string key(const std::string& dn) { return attributeKey(dn); }
  const Entry* find(const std::string& dn) const {
    const auto found = byDn.find(key(dn));
    return found == byDn.end() ? nullptr : &found->second;
  }
  void remember(Entry entry) {
    if (worthKeeping(entry)) byDn[key(entry.dn)] = std::move(entry);
  }

  static bool worthKeeping(const Entry& entry) {
    if (entry.dn.empty()) return true;  // the rootDSE
    const auto classes = entry.attributes.find("objectclass");
    if (classes == entry.attributes.end()) return false;
    return std::any_of(classes->second.begin(), classes->second.end(), [](const std::string& c) {
      const std::string name = attributeKey(c);
      return name == "organizationalunit" || name == "domain" || name == "domaindns";
    });
  }
};

namespace {

class SessionObject : public DirectoryObject {
 public:
  // An object read from the directory.
  SessionObject(std::shared_ptr<DirectorySession> session, std::shared_ptr<KnownEntries> known,
                Entry entry)
      : session_(std::move(session)),
        known_(std::move(known)),
        dn_(entry.dn),
        cache_(std::move(entry.attributes)),
        inDirectory_(true) {}
  // A new object, held here until its first SetInfo.
  SessionObject(std::shared_ptr<DirectorySession> session, std::shared_ptr<KnownEntries> known,
                std::string dn, std::string className)
      : session_(std::move(session)),
        known_(std::move(known)),
        dn_(std::move(dn)),
        className_(std::move(className)) {}

  std::string Get(const std::string& name) override {
    const auto found = cache_.find(attributeKey(name));
    if (found == cache_.end() || found->second.empty()) {
      throw DirectoryError(kNoSuchAttribute, "get " + name + " of " + describe() +
                                                 ": the object has no such attribute");
    }
    return found->second.front();
  }

  std::shared_ptr<DirectoryObject> Create(const std::string& className,
                                          const std::string& relativeName) override {
    return std::make_shared<SessionObject>(session_, known_, childDn(relativeName, dn_), className);
  }

  void Put(const std::string& name, const PropertyValue& value) override {
    AttributeValues attribute = attributeForProperty(name, value);
    const auto same = findHeld(attribute.name);
    if (same != held_.end()) {
      *same = std::move(attribute);
    } else {
      held_.push_back(std::move(attribute));
    }
  }

  void Forget(const std::string& name) override {
    const auto same = findHeld(attributeForProperty(name, std::string()).name);
    if (same != held_.end()) held_.erase(same);
  }

  void SetInfo() override {
    if (!inDirectory_) {
      std::vector<AttributeValues> attributes{{"objectClass", {className_}}};
      for (const auto& attribute : held_) {
        if (!attribute.values.empty()) attributes.push_back(attribute);
      }
      if (known_->find(dn_)) {
        throw DirectoryError(kAlreadyExists, "add " + dn_ +
                                                 ": Already exists (LDAP 68): the run has read "
                                                 "or added it already");
      }
      session_->add(dn_, attributes);
      inDirectory_ = true;
      unread_ = true;
      Entry added{dn_, {}};
      for (const auto& attribute : attributes) {
        added.attributes[attributeKey(attribute.name)] = attribute.values;
      }
      known_->remember(std::move(added));
    } else if (!held_.empty()) {
      write(held_);
    }
    held_.clear();
  }

  void SetPassword(const std::string& password) override {
    if (!inDirectory_) {
      throw DirectoryError(kNoSuchObject,
                           "set the password of " + dn_ + ": the account is not in the directory");
    }
    std::vector<AttributeValues> change;
    change.reserve(1 + held_.size());  // the wipe keeps a reference into it
    change.push_back({"unicodePwd", {}});
    WipeOnExit wipeValue(change.front().values);
    change.front().values.push_back(unicodePwdValue(password));
    if (!held_.empty()) {
      // The values held for the next SetInfo go with the password, after it,
      // in one modify: the server applies it whole or not at all, so an
      // account is never enabled without its password, and SetInfo has
      // nothing left to send.
      change.insert(change.end(), held_.begin(), held_.end());
      try {
        write(change);
        held_.clear();
        return;
      } catch (const ConnectionLost&) {
        throw;  // applied or not, nobody knows: a write is never sent again
      } catch (const DirectoryError&) {
        // Refused as a whole, and the answer does not say for which value. The
        // password goes alone, as it would without the others, so that its
        // refusal is its own; the others stay held for SetInfo.
      }
      change.resize(1);
    }
    write(change);
  }

 private:
  std::vector<AttributeValues>::iterator findHeld(const std::string& attribute) {
    return std::find_if(held_.begin(), held_.end(), [&](const AttributeValues& held) {
      return attributeKey(held.name) == attributeKey(attribute);
    });
  }
  std::string describe() const { return dn_.empty() ? "rootDSE" : dn_; }

  // A change to the object in the directory. The first one after the add
  // reads the entry back in the same round trip: what the server made of it
  // (objectSid) is then to be had from Get without another.
  void write(const std::vector<AttributeValues>& change) {
    if (!unread_) {
      session_->replace(dn_, change);
      return;
    }
    std::optional<Entry> read;
    const auto keep = [&] {
      if (!read) return;
      cache_ = std::move(read->attributes);
      unread_ = false;
    };
    try {
      session_->replaceAndRead(dn_, change, read);
    } catch (const DirectoryError&) {
      keep();
      throw;
    }
    keep();
  }

  std::shared_ptr<DirectorySession> session_;
  std::shared_ptr<KnownEntries> known_;
  std::string dn_;
  std::string className_;
  std::map<std::string, std::vector<std::string>> cache_;
  bool inDirectory_ = false;
  // Added by this object and not read since.
  bool unread_ = false;
  std::vector<AttributeValues> held_;
};

}  // namespace

SessionDirectory::SessionDirectory(std::shared_ptr<DirectorySession> session)
    : session_(std::move(session)), known_(std::make_shared<KnownEntries>()) {}
SessionDirectory::~SessionDirectory() = default;

std::shared_ptr<DirectoryObject> SessionDirectory::Bind(const std::string& path) {
  if (path.compare(0, kPathPrefix.size(), kPathPrefix) != 0 || path.size() == kPathPrefix.size()) {
    throw DirectoryError(kInvalidDnSyntax, "\"" + path + "\" is not an LDAP path");
  }
  const std::string name = path.substr(kPathPrefix.size());
  const std::string dn = attributeKey(name) == "rootdse" ? std::string() : normalizeDn(name);
  if (const Entry* known = known_->find(dn)) {
    return std::make_shared<SessionObject>(session_, known_, *known);
  }
  Entry entry = session_->readEntry(dn);
  entry.dn = dn;  // the key it was asked by
  known_->remember(entry);
  return std::make_shared<SessionObject>(session_, known_, std::move(entry));
}

std::string SessionDirectory::accountDn(const std::string& logonName) {
  // The run has bound the rootDSE already: this asks the server nothing more.
  const std::string namingContext = Bind("LDAP://rootDSE")->Get("defaultNamingContext");
  const std::string filter = "(&(objectClass=user)(sAMAccountName=" + filterValue(logonName) + "))";
  const auto entries = session_->search(namingContext, filter, {"1.1"});  // only the names
  return entries.empty() ? std::string() : entries.front().dn;
}

Directory::SidHolder SessionDirectory::sidHolder(const std::string& sid) {
  const std::string namingContext = Bind("LDAP://rootDSE")->Get("defaultNamingContext");
  const std::string filter = "(objectSid=" + binaryFilterValue(objectSidValue(sid)) + ")";
  const auto entries =
      session_->search(namingContext, filter, {"sAMAccountName", "sAMAccountType"});
  if (entries.empty()) return {};
  const auto value = [&](const char* name) {
    const auto found = entries.front().attributes.find(attributeKey(name));
    return found == entries.front().attributes.end() || found->second.empty()
               ? std::string()
               : found->second.front();
  };
  // SAM_USER_OBJECT 0x30000000, SAM_MACHINE_ACCOUNT 0x30000001, SAM_TRUST_ACCOUNT
  // 0x30000002 ([MS-SAMR] 2.2.1.9): accounts that sign in.
  const std::string type = value("sAMAccountType");
  const bool account = !type.empty() && type.find_first_not_of("0123456789") == std::string::npos &&
                       type.size() < 12 && std::stoull(type) >> 28 == 3;
  if (!account) return {SidHolder::kOther, {}};
  return {SidHolder::kAccount, value("sAMAccountName")};
}

}  // namespace kestrine
