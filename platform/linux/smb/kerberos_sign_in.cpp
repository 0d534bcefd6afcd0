#include "platform/linux/smb/kerberos_sign_in.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/linux/kerberos_ticket.h"
#include "platform/text/wipe.h"

namespace kestrine::smb {

namespace {

// SPNEGO, 1.3.6.1.5.5.2 ([MS-SPNG] 2, RFC 4178).
unsigned char spnegoBytes[] = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x02};
gss_OID_desc spnego{sizeof spnegoBytes, spnegoBytes};

struct ReleaseName {
  void operator()(gss_name_t name) const {
    OM_uint32 minor = 0;
    gss_release_name(&minor, &name);
  }
};
struct ReleaseCredential {
  void operator()(gss_cred_id_t credential) const {
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &credential);
  }
};
struct DeleteContext {
  void operator()(gss_ctx_id_t context) const {
    OM_uint32 minor = 0;
    gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  }
};
using Name = std::unique_ptr<std::remove_pointer_t<gss_name_t>, ReleaseName>;
using Credential = std::unique_ptr<std::remove_pointer_t<gss_cred_id_t>, ReleaseCredential>;
using Context = std::unique_ptr<std::remove_pointer_t<gss_ctx_id_t>, DeleteContext>;

// A buffer that GSS-API filled.
struct Buffer {
  gss_buffer_desc value{0, nullptr};
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &value);
  }
};

// A set of buffers that GSS-API filled, wiped first: it may hold a key.
struct BufferSet {
  gss_buffer_set_t value = GSS_C_NO_BUFFER_SET;
  BufferSet() = default;
  BufferSet(const BufferSet&) = delete;
  BufferSet& operator=(const BufferSet&) = delete;
  ~BufferSet() {
    if (value == GSS_C_NO_BUFFER_SET) return;
    for (OM_uint32 i = 0; i < value->count; ++i) {
      if (value->elements[i].value) wipe(value->elements[i].value, value->elements[i].length);
    }
    OM_uint32 minor = 0;
    gss_release_buffer_set(&minor, &value);
  }
};

// What GSS-API says about a status code, all of its messages.
std::string statusText(OM_uint32 code, int type) {
  std::string text;
  OM_uint32 more = 0;
  do {
    OM_uint32 minor = 0;
    Buffer message;
    if (GSS_ERROR(gss_display_status(&minor, code, type, GSS_C_NO_OID, &more, &message.value))) {
      break;
    }
    text += (text.empty() ? "" : "; ") +
            std::string(static_cast<const char*>(message.value.value), message.value.length);
  } while (more != 0);
  return text;
}

// One sign-in's GSS-API state: used by one thread at a time, and freed by
// whichever holds it last.
struct Exchange {
  std::string server;
  std::string doing;      // "sign in to <server>"
  std::string principal;  // the service's, once known
  Credential credential;
  Name target;
  Context context;
  bool complete = false;
};

[[noreturn]] void refuse(const Exchange& exchange, const std::string& reason) {
  throw SignInError(SignInFailure::kRefused, exchange.doing + ": " + reason);
}

// Kerberos' own words for one of its error codes.
std::string kerberosMessage(krb5_error_code code) {
  krb5_context raw = nullptr;
  if (krb5_init_context(&raw) != 0) return {};
  const auto context = owned(raw, krb5_free_context);
  const char* message = krb5_get_error_message(raw, code);
  std::string text = message;
  krb5_free_error_message(raw, message);
  return text;
}

// A failed GSS-API call in words. A ticket that has run out (or gone) since
// the sign-in began is said as such, whatever the library made of it.
[[noreturn]] void failed(const Exchange& exchange, const char* call, OM_uint32 major,
                         OM_uint32 minor) {
  const KerberosTicket ticket = callersTicket();
  if (!ticket.problem.empty()) {
    throw SignInError(ticket.expired ? SignInFailure::kTicketExpired : SignInFailure::kNoTicket,
                      exchange.doing + ": " + ticket.problem);
  }
  // SPNEGO hands on Kerberos' minor status renumbered: only its words tell
  // which it was, in whatever language Kerberos speaks here.
  const std::string cause = minor != 0 ? statusText(minor, GSS_C_MECH_CODE) : "";
  const auto is = [&](krb5_error_code code) {
    return !cause.empty() && cause == kerberosMessage(code);
  };
  if (is(KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN)) {
    throw SignInError(SignInFailure::kNoServiceTicket, exchange.doing +
                                                           ": the domain knows no service " +
                                                           exchange.principal + " (" + cause + ")");
  }
  // A ticket still valid by this computer's clock that the KDC refused as
  // expired: its clock, or its rule for a ticket about to end.
  if (is(KRB5KRB_AP_ERR_TKT_EXPIRED)) {
    throw SignInError(SignInFailure::kTicketExpired,
                      exchange.doing + ": " + refusedAsExpired(ticket));
  }
  if (is(KRB5_KDC_UNREACH) || is(KRB5_REALM_CANT_RESOLVE)) {
    throw SignInError(SignInFailure::kTimedOut,
                      exchange.doing + ": no Kerberos KDC answered (" + cause + ")");
  }
  const std::string status = statusText(major, GSS_C_GSS_CODE);
  refuse(exchange, std::string(call) + ": " + (cause.empty() ? status : cause));
}

// The target's name and the caller's credential, from the default cache.
void begin(Exchange& exchange) {
  const KerberosTicket ticket = callersTicket();
  if (!ticket.problem.empty()) {
    throw SignInError(ticket.expired ? SignInFailure::kTicketExpired : SignInFailure::kNoTicket,
                      exchange.doing + ": " + ticket.problem);
  }
  exchange.principal = servicePrincipal(exchange.server);
  OM_uint32 minor = 0;
  gss_buffer_desc text{exchange.principal.size(), exchange.principal.data()};
  gss_name_t name = GSS_C_NO_NAME;
  OM_uint32 major = gss_import_name(&minor, &text, GSS_KRB5_NT_PRINCIPAL_NAME, &name);
  exchange.target.reset(name);
  if (GSS_ERROR(major)) failed(exchange, "import the service's name", major, minor);

  // An empty client keytab: a ticket comes from the cache or not at all.
  gss_key_value_element_desc elements[] = {{"client_keytab", "MEMORY:kestrine-no-client-keys"}};
  const gss_key_value_set_desc store{1, elements};
  gss_OID_set_desc mechanisms{1, &spnego};
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
  major = gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms,
                                GSS_C_INITIATE, &store, &credential, nullptr, nullptr);
  exchange.credential.reset(credential);
  if (GSS_ERROR(major)) failed(exchange, "take the caller's Kerberos ticket", major, minor);
  // SPNEGO offers Kerberos alone: never NTLM, whatever mechanisms are installed.
  gss_OID_set_desc kerberosOnly{1, gss_mech_krb5};
  major = gss_set_neg_mechs(&minor, credential, &kerberosOnly);
  if (GSS_ERROR(major)) failed(exchange, "limit SPNEGO to Kerberos", major, minor);
}

std::vector<std::uint8_t> nextToken(Exchange& exchange, std::span<const std::uint8_t> serverToken) {
  // The exchange starts with the client's token: the server's hint in the
  // NEGOTIATE response is ignored, as [MS-SMB2] 3.2.4.2.3 allows.
  if (!exchange.credential) {
    begin(exchange);
    serverToken = {};
  }
  gss_buffer_desc input{serverToken.size(), const_cast<std::uint8_t*>(serverToken.data())};
  Buffer output;
  gss_ctx_id_t context = exchange.context.release();
  gss_OID mechanism = GSS_C_NO_OID;
  OM_uint32 minor = 0;
  OM_uint32 flags = 0;
  // Mutual authentication: the server proves that it holds the service's key.
  // Integrity lets SPNEGO protect its mechanism list; SMB signs with keys of
  // its own, so no confidentiality is asked for. No delegation, although
  // [MS-SMB2] 3.2.4.2.3 asks for it: it would hand the administrator's
  // ticket-granting ticket to every file server, which needs none.
  const OM_uint32 major = gss_init_sec_context(
      &minor, exchange.credential.get(), &context, exchange.target.get(), &spnego,
      GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG, GSS_C_INDEFINITE, GSS_C_NO_CHANNEL_BINDINGS,
      serverToken.empty() ? GSS_C_NO_BUFFER : &input, &mechanism, &output.value, &flags, nullptr);
  exchange.context.reset(context);
  if (GSS_ERROR(major)) failed(exchange, "Kerberos sign-in", major, minor);
  const auto* bytes = static_cast<const std::uint8_t*>(output.value.value);
  std::vector<std::uint8_t> token(bytes, bytes + output.value.length);
  if (major & GSS_S_CONTINUE_NEEDED) {
    if (token.empty()) refuse(exchange, "Kerberos asked for more and gave nothing to send");
    return token;
  }
  if (mechanism == GSS_C_NO_OID || !gss_oid_equal(mechanism, gss_mech_krb5)) {
    refuse(exchange, "SPNEGO settled on a mechanism other than Kerberos");
  }
  if (!(flags & GSS_C_MUTUAL_FLAG)) {
    refuse(exchange, "the server did not prove who it is (no mutual authentication)");
  }
  exchange.complete = true;
  return token;
}

// One step's hand-over between the caller and the thread that makes it.
struct StepRun {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::unique_ptr<Exchange> exchange;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;
  std::exception_ptr failure;
};

class KerberosSignIn final : public SecurityContext {
 public:
  explicit KerberosSignIn(const std::string& server)
      : doing_("sign in to " + server), exchange_(std::make_unique<Exchange>()) {
    exchange_->server = server;
    exchange_->doing = doing_;
  }

  // Each step runs on a thread of its own, as it may ask the KDC, with
  // Kerberos' own timeouts. At the deadline the step is left to finish alone:
  // the sign-in is over, and the thread frees its state when it ends.
  std::vector<std::uint8_t> step(std::span<const std::uint8_t> serverToken,
                                 Deadline deadline) override {
    if (!exchange_) {
      throw SignInError(SignInFailure::kTimedOut,
                        doing_ + ": given up after an earlier step went unanswered");
    }
    if (exchange_->complete) {
      throw SignInError(SignInFailure::kRefused,
                        doing_ + ": the server sent more after the sign-in was complete");
    }
    auto run = std::make_shared<StepRun>();
    run->exchange = std::move(exchange_);
    run->input.assign(serverToken.begin(), serverToken.end());
    try {
      std::thread([run] {
        std::vector<std::uint8_t> output;
        std::exception_ptr failure;
        try {
          output = nextToken(*run->exchange, run->input);
        } catch (...) {
          failure = std::current_exception();
        }
        const std::lock_guard lock(run->mutex);
        run->output = std::move(output);
        run->failure = failure;
        run->done = true;
        run->ended.notify_all();
      }).detach();
    } catch (const std::system_error& e) {
      exchange_ = std::move(run->exchange);
      throw SignInError(SignInFailure::kRefused,
                        doing_ + ": cannot start the sign-in's thread: " + e.what());
    }
    std::unique_lock lock(run->mutex);
    if (!run->ended.wait_until(lock, deadline, [&] { return run->done; })) {
      throw SignInError(SignInFailure::kTimedOut,
                        doing_ +
                            ": Kerberos did not finish before the deadline (the KDC did "
                            "not answer)");
    }
    exchange_ = std::move(run->exchange);
    if (run->failure) std::rethrow_exception(run->failure);
    return std::move(run->output);
  }

  bool complete() const override { return exchange_ && exchange_->complete; }

  std::vector<std::uint8_t> sessionKey() const override {
    if (!complete()) throw std::logic_error(doing_ + ": no session key before the sign-in ends");
    BufferSet keys;
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_inquire_sec_context_by_oid(&minor, exchange_->context.get(),
                                                           GSS_C_INQ_SSPI_SESSION_KEY, &keys.value);
    if (GSS_ERROR(major) || keys.value == GSS_C_NO_BUFFER_SET || keys.value->count == 0 ||
        keys.value->elements[0].length == 0) {
      refuse(*exchange_, "the Kerberos context gives no session key");
    }
    const auto* key = static_cast<const std::uint8_t*>(keys.value->elements[0].value);
    return {key, key + keys.value->elements[0].length};
  }

 private:
  std::string doing_;
  std::unique_ptr<Exchange> exchange_;  // none once a step was given up
};

}  // namespace

std::string servicePrincipal(const std::string& server) {
  const std::string doing = "sign in to " + server + ": ";
  krb5_context raw = nullptr;
  if (const krb5_error_code rc = krb5_init_context(&raw); rc != 0) {
    throw SignInError(SignInFailure::kRefused,
                      doing + "Kerberos cannot start (error " + std::to_string(rc) +
                          "); check its configuration, /etc/krb5.conf or KRB5_CONFIG");
  }
  const auto context = owned(raw, krb5_free_context);
  krb5_context ctx = context.get();
  const auto failure = [&](const char* what, krb5_error_code rc) {
    const auto message = owned(krb5_get_error_message(ctx, rc),
                               [ctx](const char* text) { krb5_free_error_message(ctx, text); });
    return SignInError(SignInFailure::kRefused, doing + what + ": " + message.get());
  };
  std::string realm;
  char** realms = nullptr;
  if (krb5_get_host_realm(ctx, server.c_str(), &realms) == 0) {
    if (realms && realms[0]) realm = realms[0];
    krb5_free_host_realm(ctx, realms);
  }
  krb5_principal principal = nullptr;
  if (const krb5_error_code rc =
          krb5_build_principal(ctx, &principal, static_cast<unsigned>(realm.size()), realm.c_str(),
                               "cifs", server.c_str(), nullptr);
      rc != 0) {
    throw failure("name the service", rc);
  }
  const auto owner = owned(principal, [ctx](krb5_principal p) { krb5_free_principal(ctx, p); });
  char* name = nullptr;
  if (const krb5_error_code rc = krb5_unparse_name(ctx, principal, &name); rc != 0) {
    throw failure("name the service", rc);
  }
  return owned(name, [ctx](char* text) { krb5_free_unparsed_name(ctx, text); }).get();
}

std::unique_ptr<SecurityContext> kerberosSignIn(const std::string& server) {
  return std::make_unique<KerberosSignIn>(server);
}

}  // namespace kestrine::smb
