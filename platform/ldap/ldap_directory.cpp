#include "platform/ldap/ldap_directory.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>

#include "platform/dn.h"
#include "platform/ldap/ldap_session.h"

namespace kestrine {

namespace {

constexpr std::string_view kPathPrefix = "LDAP://";

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return attributeKey(a) == attributeKey(b);
}

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

class LdapObject : public DirectoryObject {
 public:
  // An object read from the directory.
  LdapObject(std::shared_ptr<LdapSession> session, std::shared_ptr<KnownEntries> known, Entry entry)
      : session_(std::move(session)),
        known_(std::move(known)),
        dn_(entry.dn),
        cache_(std::move(entry.attributes)),
        inDirectory_(true) {}
  // A new object, held here until its first SetInfo.
  LdapObject(std::shared_ptr<LdapSession> session, std::shared_ptr<KnownEntries> known,
             std::string dn, std::string className)
      : session_(std::move(session)),
        known_(std::move(known)),
        dn_(std::move(dn)),
        className_(std::move(className)) {}

  std::string Get(const std::string& name) override {
    const auto found = cache_.find(attributeKey(name));
    if (found == cache_.end() || found->second.empty()) {
      throw DirectoryError(LDAP_NO_SUCH_ATTRIBUTE, "get " + name + " of " + describe() +
                                                       ": the object has no such attribute");
    }
    return found->second.front();
  }

  std::shared_ptr<DirectoryObject> Create(const std::string& className,
                                          const std::string& relativeName) override {
    return std::make_shared<LdapObject>(session_, known_, childDn(relativeName, dn_), className);
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
      Entry added{dn_, {}};
      for (const auto& attribute : attributes) {
        added.attributes[attributeKey(attribute.name)] = attribute.values;
      }
      known_->remember(std::move(added));
    } else if (!held_.empty()) {
      session_->replace(dn_, held_);
    }
    held_.clear();
  }

  void SetPassword(const std::string& password) override {
    if (!inDirectory_) {
      throw DirectoryError(kNoSuchObject,
                           "set the password of " + dn_ + ": the account is not in the directory");
    }
    session_->replace(dn_, {{"unicodePwd", {unicodePwdValue(password)}}});
  }

 private:
  std::vector<AttributeValues>::iterator findHeld(const std::string& attribute) {
    return std::find_if(held_.begin(), held_.end(), [&](const AttributeValues& held) {
      return equalsIgnoringCase(held.name, attribute);
    });
  }
  std::string describe() const { return dn_.empty() ? "rootDSE" : dn_; }

  std::shared_ptr<LdapSession> session_;
  std::shared_ptr<KnownEntries> known_;
  std::string dn_;
  std::string className_;
  std::map<std::string, std::vector<std::string>> cache_;
  bool inDirectory_ = false;
  std::vector<AttributeValues> held_;
};

}  // namespace

LdapDirectory::LdapDirectory(ConnectionSettings settings)
    : session_(std::make_shared<LdapSession>(settings)), known_(std::make_shared<KnownEntries>()) {}
LdapDirectory::~LdapDirectory() = default;

std::shared_ptr<DirectoryObject> LdapDirectory::Bind(const std::string& path) {
  if (path.compare(0, kPathPrefix.size(), kPathPrefix) != 0 || path.size() == kPathPrefix.size()) {
    throw DirectoryError(LDAP_INVALID_DN_SYNTAX, "\"" + path + "\" is not an LDAP path");
  }
  const std::string name = path.substr(kPathPrefix.size());
  const std::string dn = equalsIgnoringCase(name, "rootDSE") ? std::string() : normalizeDn(name);
  if (const Entry* known = known_->find(dn)) {
    return std::make_shared<LdapObject>(session_, known_, *known);
  }
  Entry entry = session_->readEntry(dn);
  entry.dn = dn;  // the key it was asked by
  known_->remember(entry);
  return std::make_shared<LdapObject>(session_, known_, std::move(entry));
}

std::vector<Entry> LdapDirectory::findAccounts(const std::string& logonName,
                                               const std::vector<std::string>& attributes) {
  // The run has bound the rootDSE already: this asks the server nothing more.
  const std::string namingContext = Bind("LDAP://rootDSE")->Get("defaultNamingContext");
  berval value{static_cast<ber_len_t>(logonName.size()), const_cast<char*>(logonName.data())};
  berval escaped{};
  if (ldap_bv2escaped_filter_value(&value, &escaped) != 0) {
    throw DirectoryError(LDAP_NO_MEMORY, "look up the account " + logonName + ": out of memory");
  }
  const std::string filter =
      "(&(objectClass=user)(sAMAccountName=" + std::string(escaped.bv_val, escaped.bv_len) + "))";
  ber_memfree(escaped.bv_val);
  return session_->search(namingContext, filter, attributes);
}

std::string LdapDirectory::accountDn(const std::string& logonName) {
  const auto entries = findAccounts(logonName, {"1.1"});  // no attributes, only the name
  return entries.empty() ? std::string() : entries.front().dn;
}

std::string LdapDirectory::accountSid(const std::string& logonName) {
  for (const Entry& entry : findAccounts(logonName, {"objectSid"})) {
    const auto sid = entry.attributes.find("objectsid");
    if (sid != entry.attributes.end() && !sid->second.empty()) return sidText(sid->second.front());
  }
  throw DirectoryError(kNoSuchObject,
                       "look up the account " + logonName + ": the domain has no such account");
}

std::string sidText(const std::string& objectSid) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(objectSid[i]); };
  // Revision, count of sub-authorities, a 48-bit big-endian authority, then
  // the sub-authorities as 32-bit little-endian numbers.
  if (objectSid.size() < 8 || byte(0) != 1 || objectSid.size() != 8 + std::size_t{4} * byte(1)) {
    throw DirectoryError(LDAP_INVALID_SYNTAX, "objectSid is not a security identifier");
  }
  std::uint64_t authority = 0;
  for (std::size_t i = 2; i < 8; ++i) authority = (authority << 8) | byte(i);
  std::string text = "S-1-" + std::to_string(authority);
  for (std::size_t i = 8; i < objectSid.size(); i += 4) {
    const std::uint32_t part = byte(i) | (std::uint32_t{byte(i + 1)} << 8) |
                               (std::uint32_t{byte(i + 2)} << 16) |
                               (std::uint32_t{byte(i + 3)} << 24);
    text += "-" + std::to_string(part);
  }
  return text;
}

AttributeValues attributeForProperty(const std::string& name, const PropertyValue& value) {
  std::string text;
  if (const auto* number = std::get_if<std::int16_t>(&value)) {
    text = std::to_string(*number);
  } else {
    text = std::get<std::string>(value);
  }
  AttributeValues attribute{name, {}};
  if (equalsIgnoringCase(name, "ScriptPath")) {
    attribute.name = "scriptPath";
  } else if (equalsIgnoringCase(name, "AccountExpirationDate")) {
    attribute.name = "accountExpires";
    if (!text.empty()) text = accountExpiresFromDate(text);
  }
  // The directory holds no empty values: an empty text means "no value".
  if (!text.empty()) attribute.values.push_back(std::move(text));
  return attribute;
}

std::string accountExpiresFromDate(const std::string& date) {
  namespace chrono = std::chrono;
  unsigned month = 0, day = 0;
  int year = 0;
  const auto number = [&](std::size_t from, std::size_t length, auto& out) {
    const char* first = date.data() + from;
    const auto [end, error] = std::from_chars(first, first + length, out);
    return error == std::errc() && end == first + length;
  };
  const bool shaped = date.size() == 10 && date[2] == '/' && date[5] == '/' &&
                      number(0, 2, month) && number(3, 2, day) && number(6, 4, year);
  const chrono::year_month_day ymd{chrono::year{year}, chrono::month{month}, chrono::day{day}};
  if (!shaped || !ymd.ok()) {
    throw DirectoryError(LDAP_INVALID_SYNTAX, "\"" + date + "\" is not a date (MM/DD/YYYY)");
  }
  if (ymd == chrono::year{1970} / chrono::January / 1) return "0";
  // accountExpires counts 100-nanosecond intervals since 1 January 1601 (UTC).
  const auto days =
      chrono::sys_days(ymd) - chrono::sys_days(chrono::year{1601} / chrono::January / 1);
  return std::to_string(static_cast<std::int64_t>(days.count()) * 864'000'000'000LL);
}

std::string unicodePwdValue(const std::string& password) {
  const std::string quoted = "\"" + password + "\"";
  std::string utf16;
  utf16.reserve(quoted.size() * 2);
  const auto unit = [&](std::uint32_t u) {
    utf16.push_back(static_cast<char>(u & 0xFF));
    utf16.push_back(static_cast<char>(u >> 8));
  };
  for (std::size_t i = 0; i < quoted.size();) {
    const auto lead = static_cast<unsigned char>(quoted[i]);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < quoted.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(quoted[i + k]) & 0x3F);
    }
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return utf16;
}

}  // namespace kestrine
