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
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/kerberos_ticket.h"

namespace kestrine::smb {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

// A server on 127.0.0.1 that accepts one connection and sends `reply` after
// `delay`, then closes it or, with `hold`, keeps it open until the test ends.
class Listener {
 public:
  explicit Listener(Bytes reply = {}, bool hold = false, std::chrono::milliseconds delay = 0ms) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(socket_.get(), 1) != 0 ||
        getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    served_ = std::async(std::launch::async, [this, reply, hold, delay] {
      OwnedSocket client(accept(socket_.get(), nullptr, nullptr));
      std::this_thread::sleep_for(delay);
      if (!reply.empty() && write(client.get(), reply.data(), reply.size()) < 0) return;
      if (hold) released_.get_future().wait();
    });
  }
  ~Listener() {
    released_.set_value();
    ::shutdown(socket_.get(), SHUT_RDWR);  // an accept still waiting ends
  }

  std::uint16_t port() const { return port_; }
  std::unique_ptr<Transport> connect() { return connectTcp("localhost", port_, Clock::now() + 2s); }

 private:
  OwnedSocket socket_{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  std::uint16_t port_ = 0;
  std::promise<void> released_;
  std::future<void> served_;
};

TransportError receiveFailure(Transport& transport, Deadline deadline = Clock::now() + 2s) {
  try {
    transport.receive(deadline);
  } catch (const TransportError& e) {
    return e;
  }
  throw std::runtime_error("received a message");
}

TEST(TcpTransport, FramesAreCheckedBeforeAnythingIsBelieved) {
  const struct {
    Bytes sent;
    Bytes first;  // the message received before the failure, if any
    TransportFailure failure;
    const char* says;
  } cases[] = {
      {{0, 0, 0, 3, 'S', 'M', 'B', 0, 0, 0, 5, 1, 2},
       {'S', 'M', 'B'},
       TransportFailure::kLost,
       "closed the connection in the middle of a message"},
      {{0, 0xFF, 0xFF, 0xFF, 1, 2, 3}, {}, TransportFailure::kLost, "more than the 8454144"},
      {{0x85, 0, 0, 0}, {}, TransportFailure::kLost, "not direct TCP (its first byte is 0x85)"},
      {{0, 0, 0, 0}, {}, TransportFailure::kLost, "an empty frame"},
      {{0, 0, 0}, {}, TransportFailure::kLost, "in the middle of a message"},
      {{}, {}, TransportFailure::kLost, "receive from localhost: the server closed the connection"},
  };
  for (const auto& c : cases) {
    Listener server(c.sent);
    const auto transport = server.connect();
    if (!c.first.empty()) {
      EXPECT_EQ(transport->receive(Clock::now() + 2s), c.first);
    }
    const TransportError error = receiveFailure(*transport);
    EXPECT_EQ(error.failure(), c.failure) << c.says;
    EXPECT_THAT(error.what(), HasSubstr(c.says));
  }
}

TEST(TcpTransport, ADeadlineEndsTheWaitAndAMessageCutShortEndsTheConnection) {
  Listener late({0, 0, 0, 2, 7, 8}, true, 600ms);
  const auto transport = late.connect();
  const auto start = Clock::now();
  TransportError error = receiveFailure(*transport, start + 300ms);
  EXPECT_EQ(error.failure(), TransportFailure::kTimedOut);
  EXPECT_THAT(error.what(), HasSubstr("no answer before the deadline"));
  EXPECT_LT(Clock::now() - start, 500ms);
  // Between messages, a wait that ran out leaves the stream in step...
  EXPECT_EQ(transport->receive(Clock::now() + 2s), (Bytes{7, 8}));

  Listener partial({0, 0, 0, 8, 1, 2, 3}, true);
  const auto cut = partial.connect();
  EXPECT_EQ(receiveFailure(*cut, Clock::now() + 300ms).failure(), TransportFailure::kTimedOut);
  // ...one in the middle of a message does not.
  error = receiveFailure(*cut);
  EXPECT_EQ(error.failure(), TransportFailure::kLost);
  EXPECT_THAT(error.what(), HasSubstr("given up after a message was cut short"));

  // A server that reads nothing: a send waits no longer than it may either.
  const Bytes large(kMaxMessageSize, 0xFE);
  try {
    for (int i = 0; i < 8; ++i) transport->send(large, Clock::now() + 300ms);
    ADD_FAILURE() << "64 MiB went to a server that reads nothing";
  } catch (const TransportError& e) {
    EXPECT_EQ(e.failure(), TransportFailure::kTimedOut);
    EXPECT_THAT(e.what(), HasSubstr("send to localhost: the server took nothing more"));
  }
  EXPECT_EQ(receiveFailure(*transport).failure(), TransportFailure::kLost);
}

TEST(TcpTransport, ShutdownFromAnotherThreadEndsAWaitAtOnce) {
  Listener server({}, true);
  const auto transport = server.connect();
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
    try {
      connectTcp(address, 445, Clock::now() + 1s);
      ADD_FAILURE() << address;
    } catch (const TransportError& e) {
      EXPECT_THAT(e.what(), HasSubstr(kServerByAddress));
    }
  }
  std::uint16_t closed = 0;
  {
    const Listener gone;
    closed = gone.port();
  }
  try {
    connectTcp("localhost", closed, Clock::now() + 2s);
    ADD_FAILURE() << "connected to a closed port";
  } catch (const TransportError& e) {
    EXPECT_EQ(e.failure(), TransportFailure::kRefused);
    EXPECT_THAT(e.what(), HasSubstr("Connection refused"));
  }
}

}  // namespace
}  // namespace kestrine::smb
