#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace kestrine {

inline constexpr const char* kNoTicket = "no Kerberos ticket (run kinit)";

// A Kerberos (or GSS-API) handle that frees itself with `release`.
template <class Handle, class Release>
auto owned(Handle handle, Release release) {
  return std::unique_ptr<std::remove_pointer_t<Handle>, Release>(handle, release);
}

// The caller's Kerberos ticket, from the default credential cache
// (KRB5CCNAME): whom it names, until when, and why it cannot serve a login.
struct KerberosTicket {
  std::string principal;  // "admin@EXAMPLE.COM"; "" when the cache holds none
  // The end of its ticket-granting ticket (the latest, when there are several).
  std::optional<std::chrono::system_clock::time_point> expires;
  bool expired = false;
  // kNoTicket; for an expired ticket whose it is, when it expired and what to
  // do: "the Kerberos ticket of admin@EXAMPLE.COM expired at 14:02; run kinit
  // admin@EXAMPLE.COM"; "" when a ticket-granting ticket is still valid, or
  // when Kerberos itself could not be asked.
  std::string problem;
};

KerberosTicket callersTicket();

// Why a ticket that has not run out by this computer's clock was refused as
// expired by the domain's Kerberos service (its clock, or its rule for a
// ticket about to end): "the domain refused the Kerberos ticket of
// admin@EXAMPLE.COM as expired (it runs until 14:02 by this computer's
// clock); run kinit admin@EXAMPLE.COM".
std::string refusedAsExpired(const KerberosTicket& ticket);

inline constexpr const char* kServerByAddress =
    "a file server must be named by its host name for Kerberos, not by its address (column 7)";

// True for an IPv4 or IPv6 address: no Kerberos service ticket is issued for
// a server named by one.
bool namesAnAddress(const std::string& host);

}  // namespace kestrine
