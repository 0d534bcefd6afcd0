#pragma once

#include <stdexcept>
#include <string>

namespace kestrine {

// A failure reported by a platform service: a numeric code of the service that
// failed (LDAP result code, errno, ...) and a text that says what was being done
// and what the server or the system answered.
class PlatformError : public std::runtime_error {
 public:
  PlatformError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace kestrine
