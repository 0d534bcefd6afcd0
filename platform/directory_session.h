#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrine {

// An attribute's name and its new values; no values removes the attribute.
struct AttributeValues {
  std::string name;
  std::vector<std::string> values;
};

// Attribute names are case-insensitive: entries key them by this form.
std::string attributeKey(std::string name);

// What a search read: the entry's name and its attributes, keyed by
// attributeKey().
struct Entry {
  std::string dn;
  std::map<std::string, std::vector<std::string>> attributes;
};

// The requests the directory objects make of a connection to the server, as
// the platform's LDAP library sends them. Failures are DirectoryErrors with
// the LDAP result code.
class DirectorySession {
 public:
  virtual ~DirectorySession() = default;
  // The entry at `dn` ("" for the rootDSE) with its attributes.
  virtual Entry readEntry(const std::string& dn) = 0;
  // The entries below `base` that match an LDAP filter, with the attributes
  // asked for.
  virtual std::vector<Entry> search(const std::string& base, const std::string& filter,
                                    const std::vector<std::string>& attributes) = 0;
  virtual void add(const std::string& dn, const std::vector<AttributeValues>& attributes) = 0;
  virtual void replace(const std::string& dn, const std::vector<AttributeValues>& attributes) = 0;
  // A replace and a read of the same entry (as readEntry reads it) sent
  // together on the one connection, both before either answer is awaited, so
  // that the two cost one round trip. Fails as replace() does; `read` gets the
  // entry when its read was answered, whatever became of the replace. The
  // server may take the two in either order: what the read shows of the
  // replaced attributes is either.
  virtual void replaceAndRead(const std::string& dn, const std::vector<AttributeValues>& attributes,
                              std::optional<Entry>& read) = 0;
};

}  // namespace kestrine
