#pragma once

#include <memory>
#include <string>

#include "platform/directory.h"
#include "platform/ldap/ldap_session.h"

namespace kestrine {

struct KnownEntries;

// The directory through OpenLDAP's libldap: "LDAP://rootDSE" and
// "LDAP://<dn>" on the server that libldap's configuration or DNS names, over
// one connection for the whole run, reopened when it is lost.
class LdapDirectory : public Directory, public AccountLookup {
 public:
  // The program keeps the default settings; tests may wait less.
  explicit LdapDirectory(ConnectionSettings settings = {});
  ~LdapDirectory() override;

  std::shared_ptr<DirectoryObject> Bind(const std::string& path) override;
  std::string accountDn(const std::string& logonName) override;
  std::string accountSid(const std::string& logonName) override;

 private:
  // The accounts of the domain with this sAMAccountName, with `attributes`.
  std::vector<Entry> findAccounts(const std::string& logonName,
                                  const std::vector<std::string>& attributes);

  std::shared_ptr<LdapSession> session_;
  std::shared_ptr<KnownEntries> known_;
};

// The attribute a property name stands for, with its value as directory text.
AttributeValues attributeForProperty(const std::string& name, const PropertyValue& value);

// The value of accountExpires for a date given as "MM/DD/YYYY"; 1 January
// 1970 means that the account never expires.
std::string accountExpiresFromDate(const std::string& date);

// A binary objectSid as text, "S-1-5-21-..."; fails for malformed bytes.
std::string sidText(const std::string& objectSid);

// The unicodePwd value for a password: the UTF-8 text in double quotes, as
// UTF-16LE.
std::string unicodePwdValue(const std::string& password);

}  // namespace kestrine
