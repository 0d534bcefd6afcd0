#pragma once

#include <memory>
#include <string>

#include "platform/directory.h"
#include "platform/directory_session.h"

namespace kestrine {

struct KnownEntries;

// "LDAP://rootDSE" and "LDAP://<dn>" as objects with Get, Create, Put,
// SetInfo and SetPassword, over whichever LDAP library the session uses:
// the directory objects mean the same on every platform.
class SessionDirectory : public Directory {
 public:
  explicit SessionDirectory(std::shared_ptr<DirectorySession> session);
  ~SessionDirectory() override;

  std::shared_ptr<DirectoryObject> Bind(const std::string& path) override;
  std::string accountDn(const std::string& logonName) override;
  // One search of the domain by objectSid.
  SidHolder sidHolder(const std::string& sid) override;

 private:
  std::shared_ptr<DirectorySession> session_;
  std::shared_ptr<KnownEntries> known_;
};

}  // namespace kestrine
