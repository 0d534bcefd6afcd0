#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/smb/transport.h"

namespace kestrine::smb {

// Why a sign-in failed.
enum class SignInFailure {
  kNoTicket,         // no credential cache, or no ticket-granting ticket in it
  kTicketExpired,    // the ticket-granting ticket has expired
  kNoServiceTicket,  // the KDC knows no such service (cifs/<server>) or refused it
  kTimedOut,         // the KDC did not answer before the deadline
  kRefused,  // anything else: the server's token was refused, mutual authentication failed...
};

class SignInError : public std::runtime_error {
 public:
  SignInError(SignInFailure failure, const std::string& what)
      : std::runtime_error(what), failure_(failure) {}
  SignInFailure failure() const { return failure_; }

 private:
  SignInFailure failure_;
};

// The client's side of a sign-in to a file server: SPNEGO ([MS-SPNG]) with
// the Kerberos mechanism through GSS-API, with the caller's ticket only, and
// mutual authentication.
class SecurityContext {
 public:
  virtual ~SecurityContext() = default;
  // One step of the exchange: takes the server's last token (empty for the
  // first step, which ignores any it is given) and returns the token to send
  // to the server (empty when there is nothing more to send). Throws
  // SignInError.
  virtual std::vector<std::uint8_t> step(std::span<const std::uint8_t> serverToken,
                                         Deadline deadline) = 0;
  // True once the exchange is complete and the server has proved who it is.
  virtual bool complete() const = 0;
  // The session key of the completed exchange, at its full length
  // (GSS_C_INQ_SSPI_SESSION_KEY).
  virtual std::vector<std::uint8_t> sessionKey() const = 0;
};

// A sign-in to the service cifs/<server>, the server named as written.
std::unique_ptr<SecurityContext> kerberosSignIn(const std::string& server);

}  // namespace kestrine::smb
