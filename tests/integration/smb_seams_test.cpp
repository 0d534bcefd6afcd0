// The SMB client's seams below it against the sandbox, and the relay that
// alters the servers' replies for the client's tests.
#include <gmock/gmock.h>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/smb/kerberos_sign_in.h"
#include "platform/linux/smb/tcp_transport.h"
#include "tests/integration/sandbox.h"
#include "tests/integration/tcp_relay.h"
#include "tests/thrown.h"

namespace kestrine::smb {
namespace {

using namespace std::chrono_literals;
using ::testing::ContainsRegex;
using testing::Freeze;
using ::testing::HasSubstr;
using testing::Sandbox;
using testing::ScopedEnvironment;
using testing::TcpRelay;
using Bytes = std::vector<std::uint8_t>;
using Action = testing::ReplyTamper::Action;

const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kestrine-smb-seams";

// The file server's side of a sign-in, with its service's keys: its answer
// to the client's first token, and the session key it ends with.
std::pair<Bytes, Bytes> serverSide(const std::string& keytab, Bytes token) {
  gss_key_value_element_desc element{"keytab", keytab.c_str()};
  const gss_key_value_set_desc store{1, &element};
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  gss_buffer_desc input{token.size(), token.data()}, output{0, nullptr};
  gss_buffer_set_t keys = GSS_C_NO_BUFFER_SET;
  OM_uint32 minor = 0;
  EXPECT_EQ(gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                                  GSS_C_ACCEPT, &store, &credential, nullptr, nullptr),
            GSS_S_COMPLETE);
  EXPECT_EQ(gss_accept_sec_context(&minor, &context, credential, &input, GSS_C_NO_CHANNEL_BINDINGS,
                                   nullptr, nullptr, &output, nullptr, nullptr, nullptr),
            GSS_S_COMPLETE);
  gss_inquire_sec_context_by_oid(&minor, context, GSS_C_INQ_SSPI_SESSION_KEY, &keys);
  const auto bytes = [](const gss_buffer_desc& buffer) {
    const auto* data = static_cast<const std::uint8_t*>(buffer.value);
    return Bytes(data, data + buffer.length);
  };
  std::pair<Bytes, Bytes> result{bytes(output), keys ? bytes(keys->elements[0]) : Bytes{}};
  gss_release_buffer_set(&minor, &keys);
  gss_release_buffer(&minor, &output);
  gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  gss_release_cred(&minor, &credential);
  return result;
}

void run(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

template <class Error = TransportError, class Call>
Error failure(Call call) {
  return testing::thrown<Error>(call);
}

SignInError signInFailure(const std::string& server, Deadline deadline = Clock::now() + 10s) {
  return failure<SignInError>([&] { kerberosSignIn(server)->step({}, deadline); });
}

TEST(KerberosSignIn, CompletesWithTheServerProvedAndTheSameSessionKeyOnBothSides) {
  Sandbox sandbox;
  std::filesystem::create_directories(folder);
  const std::string keytab = (folder / "cifs.keytab").string();
  std::filesystem::remove(keytab);
  run("samba-tool domain exportkeytab " + keytab + " --principal=cifs/" + sandbox.server() +
      " -s \"$KESTRINE_SANDBOX_DIR/etc/smb.conf\" >/dev/null");
  // As written: no lower case, no DNS name for a short one.
  EXPECT_EQ(servicePrincipal("DC1.Kestrine.Test"), "cifs/DC1.Kestrine.Test@" + sandbox.realm());
  EXPECT_EQ(servicePrincipal("dc1"), "cifs/dc1@");

  const auto client = kerberosSignIn(sandbox.server());
  const Bytes first = client->step({}, Clock::now() + 10s);
  EXPECT_FALSE(client->complete());
  EXPECT_THROW(client->sessionKey(), std::logic_error);
  const auto [answer, serverKey] = serverSide("FILE:" + keytab, first);
  EXPECT_TRUE(client->step(answer, Clock::now() + 10s).empty());
  ASSERT_TRUE(client->complete());
  const Bytes key = client->sessionKey();
  EXPECT_GE(key.size(), 16u);
  EXPECT_EQ(key, serverKey);
  EXPECT_THROW(client->step(first, Clock::now() + 10s), SignInError);
}

TEST(KerberosSignIn, SaysWhyItCannot) {
  Sandbox sandbox;
  std::filesystem::create_directories(folder);
  const std::string admin = "Administrator@" + sandbox.realm();
  const std::string expiredCache = "FILE:" + (folder / "expired").string();
  run("kinit -l 3s -c " + expiredCache + " " + admin +
      " <\"$KESTRINE_SANDBOX_ADMIN_PASSWORD_FILE\" >/dev/null");
  std::this_thread::sleep_for(4s);
  const struct {
    std::string cache;  // "" for the administrator's
    std::string server;
    SignInFailure failure;
    std::string says;
  } cases[] = {
      {"FILE:" + (folder / "none").string(), sandbox.server(), SignInFailure::kNoTicket,
       "sign in to " + sandbox.server() + ": no Kerberos ticket \\(run kinit\\)"},
      {expiredCache, sandbox.server(), SignInFailure::kTicketExpired,
       "the Kerberos ticket of " + admin + " expired at [0-9:]+; run kinit " + admin},
      {"", "fs-nowhere." + sandbox.realm(), SignInFailure::kNoServiceTicket,
       "knows no service cifs/fs-nowhere." + sandbox.realm() + "@" + sandbox.realm()},
  };
  for (const auto& c : cases) {
    std::optional<ScopedEnvironment> cache;
    if (!c.cache.empty()) cache.emplace("KRB5CCNAME", c.cache);
    const SignInError error = signInFailure(c.server);
    EXPECT_EQ(error.failure(), c.failure) << error.what();
    EXPECT_THAT(error.what(), ContainsRegex(c.says));
  }
}

// A controller that answers nothing costs a name lookup or a sign-in no more
// than its deadline; a name that does not exist is said as such.
TEST(SmbTransport, NameLookupsAndTheKdcAreHeldToTheDeadline) {
  Sandbox sandbox;
  const TransportError unknown =
      failure([&] { connectTcp("fs-nowhere." + sandbox.realm(), 445, Clock::now() + 5s); });
  EXPECT_EQ(unknown.failure(), TransportFailure::kNotFound);
  EXPECT_THAT(unknown.what(), HasSubstr("no server of that name was found"));
  EXPECT_NO_THROW(connectTcp(sandbox.server(), 445, Clock::now() + 5s));

  Freeze controller;  // its DNS and KDC too
  for (const bool lookup : {true, false}) {
    const auto start = Clock::now();
    if (lookup) {
      // Not in the hosts file: asked of the controller's DNS.
      EXPECT_EQ(
          failure([&] { connectTcp("fs-unlisted." + sandbox.realm(), 445, start + 1s); }).failure(),
          TransportFailure::kTimedOut);
    } else {
      // A ticket the KDC is asked for each time: it gives none.
      EXPECT_EQ(signInFailure("fs-nowhere." + sandbox.realm(), start + 1s).failure(),
                SignInFailure::kTimedOut);
    }
    EXPECT_LT(Clock::now() - start, 1500ms) << (lookup ? "name lookup" : "sign-in");
  }
}

// An SMB2 NEGOTIATE request ([MS-SMB2] 2.2.3) for 2.0.2 to 3.0.2.
Bytes negotiate() {
  Bytes message(64 + 36 + 8, 0);
  const std::uint8_t header[] = {0xFE, 'S', 'M', 'B', 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  std::copy(std::begin(header), std::end(header), message.begin());
  const std::uint8_t body[] = {36, 0, 4, 0, 2, 0};  // StructureSize, DialectCount, SIGNING_REQUIRED
  std::copy(std::begin(body), std::end(body), message.begin() + 64);
  const std::uint8_t dialects[] = {0x02, 0x02, 0x10, 0x02, 0x00, 0x03, 0x02, 0x03};
  std::copy(std::begin(dialects), std::end(dialects), message.begin() + 100);
  return message;
}

TEST(TamperingRelay, AltersTheServersRepliesAsAsked) {
  Sandbox sandbox;
  TcpRelay relay(sandbox.relayAddress(), 445, sandbox.address(), 445);
  const auto exchange = [&](Deadline deadline = Clock::now() + 5s) {
    const auto transport = connectTcp(sandbox.relayServer(), 445, Clock::now() + 5s);
    transport->send(negotiate(), deadline);
    return transport->receive(deadline);
  };
  const Bytes plain = exchange();
  ASSERT_GT(plain.size(), 128u);
  EXPECT_EQ(plain[68] | plain[69] << 8, 0x0302);  // DialectRevision
  relay.tamper(
      {.action = Action::kPatch, .command = 0, .offset = 122, .width = 2, .value = 0xFFFF});
  Bytes reply = exchange();
  EXPECT_EQ(reply.size(), plain.size());
  EXPECT_EQ(reply[122] | reply[123] << 8, 0xFFFF);  // SecurityBufferLength
  relay.tamper({.action = Action::kFlipSignature});
  EXPECT_EQ(exchange()[48] ^ plain[48], 1);
  relay.tamper({.action = Action::kTruncate, .offset = 70});
  EXPECT_EQ(exchange().size(), 70u);
  relay.tamper({.action = Action::kDrop});
  EXPECT_THROW(exchange(Clock::now() + 500ms), TransportError);
  relay.tamper({.action = Action::kDelay, .delay = 700ms});
  const auto start = Clock::now();
  EXPECT_EQ(exchange().size(), plain.size());
  EXPECT_GE(Clock::now() - start, 700ms);
  relay.tamper({.action = Action::kPlainError, .encrypted = true});
  EXPECT_EQ(exchange().size(), plain.size()) << "a plain reply is left alone";
  EXPECT_EQ(relay.tampered(), 5);
}

TEST(TamperingRelay, ReplacesAnEncryptedReplyWithAPlainErrorToTheLastRequest) {
  // The test is the server, and echoes a plain request, then an encrypted one.
  OwnedSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) |
                listen(listener.get(), 1) |
                getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length),
            0);
  TcpRelay relay("127.0.0.1", 0, "127.0.0.1", ntohs(address.sin_port));
  relay.tamper({.action = Action::kPlainError, .encrypted = true});
  const auto client =
      connectTcp("localhost", static_cast<std::uint16_t>(relay.port()), Clock::now() + 5s);
  const OwnedSocket server(::accept(listener.get(), nullptr, nullptr));
  const auto echo = [&](Bytes message) {
    client->send(message, Clock::now() + 5s);
    std::uint8_t frame[512];
    const ssize_t n = read(server.get(), frame, sizeof frame);
    EXPECT_EQ(write(server.get(), frame, static_cast<std::size_t>(n)), n);
    return client->receive(Clock::now() + 5s);
  };
  Bytes request = negotiate();
  request[24] = 41;  // MessageId
  EXPECT_EQ(echo(request), request);
  Bytes sealed(52 + 16, 0);  // a transform header, SessionId 0x77, and what it seals
  sealed[0] = 0xFD, sealed[1] = 'S', sealed[2] = 'M', sealed[3] = 'B', sealed[44] = 0x77;
  const Bytes error = echo(sealed);
  ASSERT_EQ(error.size(), 64u + 9);
  EXPECT_EQ(Bytes(error.begin() + 8, error.begin() + 12), (Bytes{0x22, 0, 0, 0xC0}))
      << "a plain STATUS_ACCESS_DENIED";
  EXPECT_EQ(error[24], 42) << "the MessageId after the plain request's";
  EXPECT_EQ(error[40], 0x77) << "the SessionId of the sealed reply";
}

}  // namespace
}  // namespace kestrine::smb
