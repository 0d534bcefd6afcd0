#include "platform/directory/directory_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace kestrine {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A server behind one connection at a time. The clock moves only when the
// server keeps the caller waiting for the timeout.
class FakeLink : public DirectoryLink {
 public:
  enum class Server { up, refusing, frozen };

  void open() override {
    log.push_back("open");
    if (server == Server::refusing) throw ConnectionLost(-1, "connect: refused");
    if (server == Server::frozen) wait("bind");
    connected = true;
    closed = false;
    droppedSilently = false;
  }
  void close() override {
    log.push_back("close");
    connected = false;
  }
  bool closedByPeer() override { return closed; }
  void probe() override { request("probe"); }
  std::string serverName() const override { return connected ? "dc1.example.test" : ""; }

  void request(const std::string& what) {
    if (!connected) throw std::logic_error(what + " sent without a connection");
    log.push_back(what);
    if (server == Server::frozen) wait(what);
    if (lostOnTheWay > 0) {
      --lostOnTheWay;
      throw ConnectionLost(-1, what + ": connection lost");
    }
    if (closed || droppedSilently) throw ConnectionLost(-1, what + ": connection lost");
    if (refused) throw DirectoryError(68, what + ": already exists");
  }

  std::chrono::steady_clock::time_point now;
  Server server = Server::up;
  bool connected = false;
  bool closed = false;           // by the server, which the socket shows
  bool droppedSilently = false;  // on the way, which only a request shows
  int lostOnTheWay = 0;          // the next requests that get no answer
  bool refused = false;          // the server answers with an error
  std::vector<std::string> log;

 private:
  [[noreturn]] void wait(const std::string& what) {
    now += 30s;
    throw NoAnswer(-5, what + ": no answer");
  }
};

// Waits for a server's hold by moving the link's clock.
class FakeWait : public NetworkWait {
 public:
  explicit FakeWait(FakeLink& link) : link_(link) {}
  void run(const std::function<void()>& call) override { call(); }
  void waitFor(const std::string& server, std::chrono::steady_clock::duration time) override {
    link_.log.push_back("wait " + std::to_string(time / 1s) + " s for " + server);
    link_.now += time;
  }
  void tellIfStillWaiting(const std::string& server,
                          std::chrono::steady_clock::duration after) override {
    link_.log.push_back("tell after " + std::to_string(after / 1s) + " s: " + server);
  }

 private:
  FakeLink& link_;
};

class DirectoryConnectionTest : public ::testing::Test {
 protected:
  void read(const std::string& what) {
    connection.read([&] { link.request("read " + what); });
  }
  void write(const std::string& what) {
    connection.write([&] { link.request("write " + what); });
  }
  // The log from here on.
  std::vector<std::string> logFromHere() {
    std::vector<std::string> log;
    log.swap(link.log);
    return log;
  }
  // A connection that has answered once; the log starts empty.
  void connected() {
    read("first");
    link.log.clear();
  }

  FakeLink link;
  FakeWait wait{link};
  DirectoryConnection connection{link, ConnectionSettings{}, &wait, [this] { return link.now; }};
};

TEST_F(DirectoryConnectionTest, OneConnectionServesEveryRequestWhileItWorks) {
  read("a");
  write("b");
  link.refused = true;
  EXPECT_THROW(write("c"), DirectoryError);  // an answer, however unwelcome
  link.refused = false;
  read("d");
  EXPECT_THAT(logFromHere(), ElementsAre("open", "read a", "write b", "write c", "read d"));
}

TEST_F(DirectoryConnectionTest, ReadLostOnTheWayRunsOnceMoreOnANewConnection) {
  connected();
  link.lostOnTheWay = 1;
  read("a");
  EXPECT_THAT(logFromHere(), ElementsAre("read a", "close", "open", "read a"));

  link.lostOnTheWay = 2;
  EXPECT_THROW(read("b"), ConnectionLost);
  EXPECT_THAT(logFromHere(), ElementsAre("read b", "close", "open", "read b", "close"));
}

TEST_F(DirectoryConnectionTest, WriteLostOnTheWayIsNeverSentAgain) {
  connected();
  link.lostOnTheWay = 1;
  EXPECT_THROW(write("a"), ConnectionLost);
  EXPECT_THAT(logFromHere(), ElementsAre("write a", "close"));
  write("b");
  EXPECT_THAT(logFromHere(), ElementsAre("open", "write b"));
}

TEST_F(DirectoryConnectionTest, ConnectionClosedByTheServerIsReplacedBeforeSending) {
  connected();
  link.closed = true;
  write("a");
  link.closed = true;
  read("b");
  EXPECT_THAT(logFromHere(), ElementsAre("close", "open", "write a", "close", "open", "read b"));
}

TEST_F(DirectoryConnectionTest, ConnectionIdleTooLongIsProbedBeforeAWrite) {
  connected();
  link.now += 60s;  // not more than the limit
  write("a");
  link.now += 61s;
  read("b");  // a read is sent again if need be: no probe
  link.now += 61s;
  write("c");
  link.now += 61s;
  link.droppedSilently = true;
  write("d");
  EXPECT_THAT(logFromHere(), ElementsAre("write a", "read b", "probe", "write c", "probe", "close",
                                         "open", "write d"));
}

// A change and a read sent together: the change's answer decides the call;
// a connection lost on the read's way alone is replaced before the next
// request. A change lost is not sent again, its read not awaited.
TEST_F(DirectoryConnectionTest, ChangeAndReadInOneFlightAnswerForTheChange) {
  const auto answer = [&](const std::string& what, const std::string& how) {
    link.log.push_back(what);
    if (how == "refused") throw DirectoryError(19, what);
    if (how == "lost") throw ConnectionLost(-1, what);
  };
  struct Case {
    std::string change, read;      // "" for an answer that is no failure
    std::vector<std::string> log;  // after the change was awaited
  } const cases[] = {{"", "", {"await read"}},
                     {"", "lost", {"await read", "close", "open"}},
                     {"refused", "", {"await read"}},
                     {"refused", "lost", {"await read", "close", "open"}},
                     {"lost", "", {"close", "open"}}};
  for (const Case& c : cases) {
    connected();
    std::string failed;
    try {
      connection.writeAndRead(
          [&] { link.request("send change"); }, [&] { link.request("send read"); },
          [&] { answer("await change", c.change); }, [&] { answer("await read", c.read); });
    } catch (const ConnectionLost&) {
      failed = "lost";
    } catch (const DirectoryError&) {
      failed = "refused";
    }
    EXPECT_EQ(failed, c.change) << c.read;
    write("next");
    std::vector<std::string> log = {"send change", "send read", "await change"};
    log.insert(log.end(), c.log.begin(), c.log.end());
    log.push_back("write next");
    EXPECT_EQ(logFromHere(), log) << c.change << "/" << c.read;
  }
}

TEST_F(DirectoryConnectionTest, ServerThatCannotBeReachedIsAskedAgainWhenItsHoldEnds) {
  link.server = FakeLink::Server::refusing;
  EXPECT_THROW(write("a"), ConnectionLost);
  link.now += 29s;
  link.server = FakeLink::Server::up;
  read("b");  // waits out the hold's last second, under the server's role: never connected
  EXPECT_THAT(logFromHere(),
              ElementsAre("open", "wait 1 s for the domain controller", "open", "read b"));

  // A connection that worked again starts afresh: a loss is followed by a try.
  link.lostOnTheWay = 1;
  EXPECT_THROW(write("e"), ConnectionLost);
  write("f");
  EXPECT_THAT(logFromHere(), ElementsAre("write e", "close", "open", "write f"));
}

TEST_F(DirectoryConnectionTest, ReadWhoseNewConnectionFailsReportsWhyAndHolds) {
  connected();
  link.lostOnTheWay = 1;
  link.server = FakeLink::Server::refusing;
  try {
    read("a");
    ADD_FAILURE() << "no failure";
  } catch (const ConnectionLost& e) {
    EXPECT_STREQ(e.what(), "connect: refused");
  }
  EXPECT_THROW(write("b"), ConnectionLost);
  EXPECT_THAT(logFromHere(),
              ElementsAre("read a", "close", "open", "wait 30 s for dc1.example.test", "open"));
}

TEST_F(DirectoryConnectionTest, PausedServerCostsThePause) {
  connected();
  link.server = FakeLink::Server::frozen;
  EXPECT_THROW(read("unit"), NoAnswer);
  link.server = FakeLink::Server::up;  // 10 s later, say
  write("account");
  EXPECT_THAT(logFromHere(), ElementsAre("read unit", "close", "wait 30 s for dc1.example.test",
                                         "open", "write account"));
}

TEST_F(DirectoryConnectionTest, StoppedServerIsGivenUpAfterTwoMinutesThenCostsOneTimeoutPerHold) {
  connected();
  link.server = FakeLink::Server::frozen;
  const auto frozenAt = link.now;
  int failed = 0;
  std::string reason;
  for (int record = 0; record < 120; ++record) {
    try {
      read("unit");
      write("account");
    } catch (const DirectoryError& e) {
      ++failed;
      reason = e.what();
    }
  }
  EXPECT_EQ(failed, 120);
  // The read's timeout, then each hold waited out and the server asked again,
  // until it has gone two minutes without an answer; then the rest at once.
  EXPECT_EQ(link.now - frozenAt, 150s);
  EXPECT_THAT(logFromHere(), ElementsAre("read unit", "close", "wait 30 s for dc1.example.test",
                                         "open", "wait 30 s for dc1.example.test", "open"));
  EXPECT_EQ(reason, "bind: no answer");

  // As ever after each hold, the next request asks; an answer ends it all.
  link.now += 30s;
  link.server = FakeLink::Server::up;
  write("account");
  link.server = FakeLink::Server::frozen;
  EXPECT_THROW(read("unit"), NoAnswer);
  EXPECT_THROW(read("unit"), NoAnswer);  // patient again
  EXPECT_THAT(logFromHere(), ElementsAre("open", "write account", "read unit", "close",
                                         "wait 30 s for dc1.example.test", "open"));
}

// A write is never sent twice: its answer is awaited instead, until the
// server has gone two minutes without one.
TEST_F(DirectoryConnectionTest, WriteAwaitsItsAnswerUntilTheServerIsGivenUp) {
  connected();
  const auto writeWait = [&] {
    std::chrono::seconds wait{};
    connection.write([&] { wait = connection.writeWait(); });
    return wait;
  };
  EXPECT_EQ(writeWait(), 120s);
  link.server = FakeLink::Server::frozen;
  EXPECT_THROW(read("unit"), NoAnswer);
  link.server = FakeLink::Server::up;
  EXPECT_EQ(writeWait(), 60s);  // after the read's timeout and the hold
  EXPECT_THAT(logFromHere(), ElementsAre("tell after 30 s: dc1.example.test", "read unit", "close",
                                         "wait 30 s for dc1.example.test", "open",
                                         "tell after 30 s: dc1.example.test"));

  // Given up: a write waits the timeout alone, as any request.
  link.server = FakeLink::Server::frozen;
  for (int i = 0; i < 4; ++i) EXPECT_THROW(read("unit"), DirectoryError);
  link.now += 30s;
  link.server = FakeLink::Server::up;
  EXPECT_EQ(writeWait(), 30s);
  EXPECT_THAT(logFromHere(),
              ::testing::Not(::testing::Contains(::testing::StartsWith("tell after"))));
}

TEST(NoAnswerReasonTest, NamesTheServerAndTheTimesInSeconds) {
  EXPECT_EQ(noAnswerReason({}), "the domain controller did not answer within 30 s");
  EXPECT_EQ(heldReason({.timeout = 4s, .retryAfter = 5s}, kFileServerRole),
            "the file server did not answer within 4 s; not asked again for 5 s");
  EXPECT_EQ(noAnswerReason(120s, kFileServerRole), "the file server did not answer within 120 s");
}

}  // namespace
}  // namespace kestrine
