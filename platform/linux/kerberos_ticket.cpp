#include "platform/linux/kerberos_ticket.h"

#include <arpa/inet.h>
#include <krb5.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

namespace kestrine {

namespace {

// A krb5 handle that frees itself with `release`.
template <class Handle, class Release>
auto owned(Handle handle, Release release) {
  return std::unique_ptr<std::remove_pointer_t<Handle>, Release>(handle, release);
}

}  // namespace

KerberosTicket callersTicket() {
  krb5_context rawContext = nullptr;
  if (krb5_init_context(&rawContext) != 0) return {};
  const auto context = owned(rawContext, krb5_free_context);
  krb5_context ctx = context.get();

  KerberosTicket ticket{{}, kNoTicket};
  krb5_ccache rawCache = nullptr;
  if (krb5_cc_default(ctx, &rawCache) != 0) return ticket;
  const auto cache = owned(rawCache, [ctx](krb5_ccache c) { krb5_cc_close(ctx, c); });
  krb5_principal rawClient = nullptr;
  if (krb5_cc_get_principal(ctx, cache.get(), &rawClient) != 0) return ticket;
  const auto client = owned(rawClient, [ctx](krb5_principal p) { krb5_free_principal(ctx, p); });
  const auto freeName = [ctx](char* name) { krb5_free_unparsed_name(ctx, name); };
  char* rawName = nullptr;
  if (krb5_unparse_name(ctx, client.get(), &rawName) == 0) {
    ticket.principal = owned(rawName, freeName).get();
  }

  krb5_cc_cursor cursor = nullptr;
  if (krb5_cc_start_seq_get(ctx, cache.get(), &cursor) != 0) return ticket;
  krb5_timestamp now = 0;
  krb5_timeofday(ctx, &now);
  bool anyGranting = false;
  bool validGranting = false;
  krb5_creds creds;
  while (krb5_cc_next_cred(ctx, cache.get(), &cursor, &creds) == 0) {
    char* rawServer = nullptr;
    if (krb5_unparse_name(ctx, creds.server, &rawServer) == 0 &&
        std::strncmp(owned(rawServer, freeName).get(), "krbtgt/", 7) == 0) {
      anyGranting = true;
      // Kerberos times are unsigned 32-bit seconds.
      validGranting = validGranting || static_cast<std::uint32_t>(creds.times.endtime) >
                                           static_cast<std::uint32_t>(now);
    }
    krb5_free_cred_contents(ctx, &creds);
  }
  krb5_cc_end_seq_get(ctx, cache.get(), &cursor);
  ticket.problem = !anyGranting ? kNoTicket : validGranting ? "" : kTicketExpired;
  return ticket;
}

bool namesAnAddress(const std::string& host) {
  in6_addr address;
  return inet_pton(AF_INET, host.c_str(), &address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace kestrine
