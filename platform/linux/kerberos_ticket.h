#pragma once

#include <string>

namespace kestrine {

inline constexpr const char* kNoTicket = "no Kerberos ticket (run kinit)";
inline constexpr const char* kTicketExpired = "the ticket has expired (run kinit)";

// The caller's Kerberos ticket, from the default credential cache
// (KRB5CCNAME): whom it names, and why it cannot serve a login.
struct KerberosTicket {
  std::string principal;  // "admin@EXAMPLE.COM"; "" when the cache holds none
  // kNoTicket, kTicketExpired, or "" when a ticket-granting ticket is still
  // valid, or when Kerberos itself could not be asked.
  std::string problem;
};

KerberosTicket callersTicket();

// True for an IPv4 or IPv6 address: no Kerberos service ticket is issued for
// a server named by one.
bool namesAnAddress(const std::string& host);

}  // namespace kestrine
