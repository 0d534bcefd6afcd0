// The direct TCP transport against a listener of the test's own on localhost.
#include "platform/linux/smb/tcp_transport.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/kerberos_ticket.h"
#include "tests/thrown.h"

namespace kestrine::smb {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

// A server on 127.0.0.1. The kernel completes a client's connection before
// the test accepts it, so no thread serves it: the test is the server.
class Listener {
 public:
  Listener() {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(socket_.get(), 1) != 0 ||
        getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
  }
  std::uint16_t port() const { return port_; }
  // A client's connection, and the server's end of it.
  std::pair<std::unique_ptr<Transport>, OwnedSocket> connect() {
    auto transport = connectTcp("localhost", port_, Clock::now() + 2s);
    return {std::move(transport), OwnedSocket(accept(socket_.get(), nullptr, nullptr))};
  }

 private:
  OwnedSocket socket_{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  std::uint16_t port_ = 0;
};

void send(const OwnedSocket& peer, const Bytes& bytes) {
  ASSERT_EQ(write(peer.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

template <class Call>
TransportError failure(Call call) {
  return testing::thrown<TransportError>(call);
}

TransportError receiveFailure(Transport& transport, Deadline deadline = Clock::now() + 2s) {
  return failure([&] { transport.receive(deadline); });
}

// A frame that is not one ends the connection (kLost), whatever it claims.
TEST(TcpTransport, FramesAreCheckedBeforeAnythingIsBelieved) {
  const struct {
    Bytes sent;
    Bytes first;  // the message received before the failure, if any
    const char* says;
  } cases[] = {
      {{0, 0, 0, 3, 'S', 'M', 'B', 0, 0, 0, 5, 1, 2},
       {'S', 'M', 'B'},
       "in the middle of a message"},
      {{0, 0xFF, 0xFF, 0xFF, 1, 2, 3}, {}, "more than the 8454144"},
      {{0x85, 0, 0, 0}, {}, "not direct TCP (its first byte is 0x85)"},
      {{0, 0, 0, 0}, {}, "an empty frame"},
      {{}, {}, "receive from localhost: the server closed the connection"},
  };
  for (const auto& c : cases) {
    auto [transport, peer] = Listener().connect();
    send(peer, c.sent);
    peer = OwnedSocket();
    if (!c.first.empty()) {
      EXPECT_EQ(transport->receive(Clock::now() + 2s), c.first);
    }
    const TransportError error = receiveFailure(*transport);
    EXPECT_EQ(error.failure(), TransportFailure::kLost) << c.says;
    EXPECT_THAT(error.what(), HasSubstr(c.says));
  }
}

TEST(TcpTransport, ADeadlineEndsTheWaitAndAMessageCutShortEndsTheConnection) {
  Listener server;
  const auto [transport, peer] = server.connect();
  const auto start = Clock::now();
  TransportError error = receiveFailure(*transport, start + 300ms);
  EXPECT_EQ(error.failure(), TransportFailure::kTimedOut);
  EXPECT_THAT(error.what(), HasSubstr("no answer before the deadline"));
  EXPECT_LT(Clock::now() - start, 500ms);
  // Between messages, a wait that ran out leaves the stream in step...
  send(peer, {0, 0, 0, 2, 7, 8});
  EXPECT_EQ(transport->receive(Clock::now() + 2s), (Bytes{7, 8}));

  const auto [cut, cutPeer] = server.connect();
  send(cutPeer, {0, 0, 0, 8, 1, 2, 3});
  EXPECT_EQ(receiveFailure(*cut, Clock::now() + 300ms).failure(), TransportFailure::kTimedOut);
  // ...one in the middle of a message does not.
  EXPECT_THAT(receiveFailure(*cut).what(), HasSubstr("given up after a message was cut short"));

  // A server that reads nothing: a send waits no longer than it may either.
  const Bytes large(kMaxMessageSize, 0xFE);
  error = failure([&] {
    for (int i = 0; i < 8; ++i) transport->send(large, Clock::now() + 300ms);
  });
  EXPECT_EQ(error.failure(), TransportFailure::kTimedOut);
  EXPECT_THAT(error.what(), HasSubstr("send to localhost: the server took nothing more"));
  EXPECT_EQ(receiveFailure(*transport).failure(), TransportFailure::kLost);
}

TEST(TcpTransport, ShutdownFromAnotherThreadEndsAWaitAtOnce) {
  const auto [transport, peer] = Listener().connect();
  const auto start = Clock::now();
  std::thread cutter([&] {
    std::this_thread::sleep_for(200ms);
    transport->shutdown();
  });
  const TransportError error = receiveFailure(*transport, start + 10s);
  cutter.join();
  EXPECT_EQ(error.failure(), TransportFailure::kLost);
  EXPECT_THAT(error.what(), HasSubstr("the connection was shut down"));
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_THROW(transport->send(Bytes{1}, Clock::now() + 1s), TransportError);
}

TEST(TcpTransport, ConnectRefusesAddressesAndSaysWhatFailed) {
  for (const char* address : {"127.0.0.1", "::1"}) {
    EXPECT_THAT(failure([&] { connectTcp(address, 445, Clock::now() + 1s); }).what(),
                HasSubstr(kServerByAddress));
  }
  const std::uint16_t closed = Listener().port();
  const TransportError error = failure([&] { connectTcp("localhost", closed, Clock::now() + 2s); });
  EXPECT_EQ(error.failure(), TransportFailure::kRefused);
  EXPECT_THAT(error.what(), HasSubstr("Connection refused"));
}

}  // namespace
}  // namespace kestrine::smb
