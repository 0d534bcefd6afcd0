#pragma once

#include <stdexcept>
#include <string>

namespace kestrine {

// Failures that the run tells apart from their reasons: one cause that
// strikes record after record is told once.
enum class FailureKind {
  kOther,
  // Not asked: the server has gone long without an answer, and the failure
  // of the call that waited for it stands for this one.
  kServerGivenUp,
  // No sign-in: no Kerberos ticket, an expired one, a logon the domain
  // refused. The same for every server and every record.
  kSignIn,
};

// A failure reported by a platform service: a numeric code of the service that
// failed (LDAP result code, errno, ...) and a text that says what was being done
// and what the server or the system answered.
class PlatformError : public std::runtime_error {
 public:
  PlatformError(int code, const std::string& message, FailureKind kind = FailureKind::kOther)
      : std::runtime_error(message), code_(code), kind_(kind) {}
  int code() const { return code_; }
  FailureKind kind() const { return kind_; }

 private:
  int code_;
  FailureKind kind_;
};

}  // namespace kestrine
