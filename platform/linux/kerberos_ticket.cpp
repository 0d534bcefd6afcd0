#include "platform/linux/kerberos_ticket.h"

#include <arpa/inet.h>
#include <krb5.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace kestrine {

namespace {

// The local time of day, and the date too unless it is today.
std::string localTime(std::time_t when) {
  std::tm then{};
  std::tm today{};
  const std::time_t now = std::time(nullptr);
  localtime_r(&when, &then);
  localtime_r(&now, &today);
  const bool sameDay = then.tm_year == today.tm_year && then.tm_yday == today.tm_yday;
  char text[32];
  std::strftime(text, sizeof text, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &then);
  return text;
}

}  // namespace

KerberosTicket callersTicket() {
  krb5_context rawContext = nullptr;
  if (krb5_init_context(&rawContext) != 0) return {};
  const auto context = owned(rawContext, krb5_free_context);
  krb5_context ctx = context.get();

  KerberosTicket ticket;
  ticket.problem = kNoTicket;
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
  std::uint32_t latestEnd = 0;
  krb5_creds creds;
  while (krb5_cc_next_cred(ctx, cache.get(), &cursor, &creds) == 0) {
    char* rawServer = nullptr;
    if (krb5_unparse_name(ctx, creds.server, &rawServer) == 0 &&
        std::strncmp(owned(rawServer, freeName).get(), "krbtgt/", 7) == 0) {
      anyGranting = true;
      // Kerberos times are unsigned 32-bit seconds.
      latestEnd = std::max(latestEnd, static_cast<std::uint32_t>(creds.times.endtime));
    }
    krb5_free_cred_contents(ctx, &creds);
  }
  krb5_cc_end_seq_get(ctx, cache.get(), &cursor);
  if (!anyGranting) return ticket;
  ticket.expires = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(latestEnd));
  ticket.expired = latestEnd <= static_cast<std::uint32_t>(now);
  ticket.problem = !ticket.expired ? ""
                                   : "the Kerberos ticket of " + ticket.principal + " expired at " +
                                         localTime(static_cast<std::time_t>(latestEnd)) +
                                         "; run kinit " + ticket.principal;
  return ticket;
}

std::string refusedAsExpired(const KerberosTicket& ticket) {
  if (ticket.principal.empty() || !ticket.expires) {
    return "the domain refused the Kerberos ticket as expired; run kinit";
  }
  return "the domain refused the Kerberos ticket of " + ticket.principal +
         " as expired (it runs until " +
         localTime(std::chrono::system_clock::to_time_t(*ticket.expires)) +
         " by this computer's clock); run kinit " + ticket.principal;
}

bool namesAnAddress(const std::string& host) {
  in6_addr address;
  return inet_pton(AF_INET, host.c_str(), &address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace kestrine
