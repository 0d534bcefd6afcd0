#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "platform/platform_error.h"

namespace kestrine {

// A value handed to a property put: text, or a 16-bit integer such as the
// account flags.
using PropertyValue = std::variant<std::string, std::int16_t>;

// A failure of a directory operation. code() is the LDAP result code.
class DirectoryError : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

// Failure codes of directory operations: LDAP result codes, whichever
// library reached the server.
inline constexpr int kNoSuchAttribute = 16;
inline constexpr int kInvalidSyntax = 21;
inline constexpr int kNoSuchObject = 32;
inline constexpr int kInvalidDnSyntax = 34;
inline constexpr int kAlreadyExists = 68;
// An operation on a reference that holds no object.
inline constexpr int kObjectRequired = 424;

// A bound or newly created directory object, addressed by attribute and
// property names as the directory names them.
class DirectoryObject {
 public:
  virtual ~DirectoryObject() = default;

  // The first value of an attribute read when the object was bound; of an
  // object added through it, read with its first change after the add.
  virtual std::string Get(const std::string& name) = 0;
  // A child of this object, held locally until its first SetInfo.
  virtual std::shared_ptr<DirectoryObject> Create(const std::string& className,
                                                  const std::string& relativeName) = 0;
  // Holds a value until the next SetInfo; an empty text means "no value".
  virtual void Put(const std::string& name, const PropertyValue& value) = 0;
  // Drops a value held since the last SetInfo, so that SetInfo leaves it out.
  virtual void Forget(const std::string& name) = 0;
  // Writes the held values; the first call on a created object adds it.
  virtual void SetInfo() = 0;
  // Sets the password at once; the object must already be in the directory.
  // The values held for the next SetInfo may be written with it, in the same
  // request, when the server takes them all: SetInfo then has none to write.
  virtual void SetPassword(const std::string& password) = 0;
};

// The directory service: objects are reached by binding to "LDAP://rootDSE" or
// "LDAP://<distinguished name>".
class Directory {
 public:
  virtual ~Directory() = default;
  // Fails when the path names no object.
  virtual std::shared_ptr<DirectoryObject> Bind(const std::string& path) = 0;
  // The distinguished name of the account whose sAMAccountName is
  // `logonName`, or "" when the domain has none.
  virtual std::string accountDn(const std::string& logonName) = 0;

  // What the domain holds under a SID ("S-1-5-21-..."): a user or computer
  // account (with its logon name), an object of another kind (a group), or
  // nothing (a former account's, or another domain's).
  struct SidHolder {
    enum Kind { kNothing, kAccount, kOther } kind = kNothing;
    std::string logonName;  // of an account
  };
  virtual SidHolder sidHolder(const std::string& sid) = 0;
};

// The object a reference holds; a failure, not a crash, when it holds none.
template <class Object>
Object& bound(const std::shared_ptr<Object>& reference, const char* name) {
  if (!reference) throw PlatformError(kObjectRequired, std::string(name) + " holds no object");
  return *reference;
}

}  // namespace kestrine
