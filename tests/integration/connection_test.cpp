// The directory connection against a sandbox controller that stops answering,
// restarts, drops idle connections or has its connections reset, in the
// middle of whole import runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "platform/directory/dn.h"
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
#include "platform/threads/call_thread.h"
#include "run/import_run.h"
#include "tests/fakes/fakes.h"
#include "tests/integration/sandbox.h"
#include "tests/integration/tcp_relay.h"

namespace kestrine::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr int kNormalAccount = 512;
// Short enough for the tests, long enough for a slow machine's answers; a
// server given up at its third unanswered request, as the program's is.
constexpr ConnectionSettings kShort{
    .timeout = 4s, .retryAfter = 4s, .idleCheckAfter = 60s, .giveUpAfter = 14s};
constexpr ConnectionSettings kCheckEveryWrite{
    .timeout = 4s, .retryAfter = 4s, .idleCheckAfter = 0s, .giveUpAfter = 14s};
// For a server paused for 6 s: a Samba just thawed takes seconds to answer
// on a loaded machine, and the program's hold gives it 30.
constexpr ConnectionSettings kPause{
    .timeout = 4s, .retryAfter = 8s, .idleCheckAfter = 60s, .giveUpAfter = 30s};

// The LDAP server's idle timeout lowered for connections opened in the scope.
class IdleTimeout {
 public:
  explicit IdleTimeout(int seconds) : saved_(sandboxDomain("idle-timeout")) {
    sandboxDomain("idle-timeout " + std::to_string(seconds));
  }
  ~IdleTimeout() {
    try {
      sandboxDomain("idle-timeout " + saved_);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  IdleTimeout(const IdleTimeout&) = delete;
  IdleTimeout& operator=(const IdleTimeout&) = delete;

 private:
  std::string saved_;
};

// A view through which a fault strikes mid-run: when a progress text shows,
// when a message box is up, or when the run has ended.
class ActingView : public RecordingView {
 public:
  using RecordingView::RecordingView;
  void setLoadingText(const std::string& text) override {
    RecordingView::setLoadingText(text);
    if (const auto act = onProgress.find(text); act != onProgress.end()) act->second();
  }
  void messageBox(const std::string& prompt, int buttons, const std::string& title) override {
    RecordingView::messageBox(prompt, buttons, title);
    if (onMessage) onMessage(prompt);
  }
  void showComplete() override {
    RecordingView::showComplete();
    if (onComplete) onComplete();
  }

  std::map<std::string, std::function<void()>> onProgress;
  std::function<void(const std::string&)> onMessage;
  std::function<void()> onComplete;
};

// The sandbox's processes (or some: "smbd") stopped for `pause`, while the
// run goes on.
class Pause {
 public:
  Pause(const std::string& processes, Clock::duration pause)
      : freeze_(processes), thaw_([this, pause] {
          std::this_thread::sleep_for(pause);
          freeze_.thaw();
        }) {}
  ~Pause() { thaw_.join(); }
  Pause(const Pause&) = delete;
  Pause& operator=(const Pause&) = delete;

 private:
  Freeze freeze_;
  std::thread thaw_;
};

// The run's calls on a thread of their own, with the texts that the
// progress window would show while they wait.
struct WaitingCalls {
  WaitingCalls() {
    calls.tellWaitsTo([this](const std::string& text) { notices.push_back(text); });
  }
  CallThread calls{[] {}};
  std::vector<std::string> notices;
};

template <class Error = DirectoryError, class Call>
std::string failure(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "no such failure";
  return {};
}

class ConnectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);  // as the programs do
    sandbox = std::make_unique<Sandbox>();
  }
  static void TearDownTestSuite() { sandbox.reset(); }

  void SetUp() override {
    static int counter = 0;
    tag = "c" + std::to_string(getpid() % 100000) + static_cast<char>('a' + counter++ % 26);
    folder = std::filesystem::temp_directory_path() / ("kestrine-" + tag);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    sandbox->removeTree(unitDn());
    sandbox->removeFromShare(tag);
    std::filesystem::remove_all(folder);
  }

  std::string unit() const { return tag + " Conn"; }
  // The controller by its name, at another port.
  std::string uri(int port) const {
    return "ldap://" + sandbox->server() + ":" + std::to_string(port);
  }
  std::string unitDn() const { return childDn("OU=" + escapeDnValue(unit()), sandbox->domainDn()); }
  std::string account(int n) const { return tag + "u" + std::to_string(n); }
  std::string line(int n, const std::string& fileServer = "") const {
    return account(n) + ",User " + account(n) + ",First,Last,Pa55word!x," + unit() +
           ",kestrine.test," + (fileServer.empty() ? sandbox->server() : fileServer) +
           ",home,logon.cmd";
  }
  // The progress text that ends record n.
  std::string afterRecord(int n) const {
    return "Creating Share: \\\\" + sandbox->server() + "\\home$\\" + account(n);
  }
  Entry user(int n) const {
    return sandbox->read(childDn("cn=" + escapeDnValue("User " + account(n)), unitDn()));
  }
  bool enabled(int n) const {
    const Entry entry = user(n);
    return !entry.dn.empty() &&
           first(entry, "userAccountControl") == std::to_string(kNormalAccount);
  }

  struct Outcome {
    int done = 0;
    int failed = 0;
    std::string completeText;
    std::string messages;  // every message box's text, one a line
    Clock::duration took{};
  };
  std::vector<std::string> lines(int count) const {
    std::vector<std::string> lines;
    for (int n = 1; n <= count; ++n) lines.push_back(line(n));
    return lines;
  }
  // The message boxes but for the summary.
  static int boxes(const std::string& messages) {
    int boxes = 0;
    for (std::size_t at = 0; (at = messages.find("message 0 []", at)) != std::string::npos; ++at) {
      ++boxes;
    }
    return boxes;
  }
  Outcome import(const std::vector<std::string>& lines, ActingView& view,
                 ConnectionSettings settings, NetworkWait* wait = nullptr) {
    const auto path = folder / "users.csv";
    std::ofstream file(path, std::ios::binary);
    for (const auto& line : lines) file << line << "\r\n";
    file.close();
    view.filePath = path.string();
    LdapDirectory ldap(settings, wait);
    HostServiceObjects services(settings, wait);
    ImportRun run(view, ldap, services);
    const auto start = Clock::now();
    run.run();
    Outcome outcome{run.state().recordCount, run.report().failedCount(), view.completeText, "",
                    Clock::now() - start};
    for (const auto& entry : log.entries) {
      if (entry.rfind("message", 0) == 0) outcome.messages += entry + "\n";
    }
    return outcome;
  }

  static std::unique_ptr<Sandbox> sandbox;
  std::string tag;
  std::filesystem::path folder;
  CallLog log;
};

std::unique_ptr<Sandbox> ConnectionTest::sandbox;

TEST_F(ConnectionTest, PausedControllerIsWaitedForAndAskedAgain) {
  LdapSession session(kPause);
  session.readEntry("");
  {
    Freeze freeze;
    const auto start = Clock::now();
    // The read waits its timeout and is not sent again.
    EXPECT_EQ(failure([&] { session.readEntry(""); }),
              "read rootDSE: the domain controller did not answer within 4 s");
    // The next one waits for the hold to end, then asks: the new
    // connection's bind waits its timeout.
    const std::string reason = failure([&] { session.readEntry(""); });
    EXPECT_THAT(reason, HasSubstr("GSSAPI bind to "));
    EXPECT_THAT(reason, HasSubstr(": the domain controller did not answer within 4 s"));
    EXPECT_THAT(reason, Not(HasSubstr("Success")));
    EXPECT_GE(Clock::now() - start, 15s);
  }
  EXPECT_FALSE(session.readEntry("").attributes.empty());
}

// Between two records: the next record's first request, the add of its
// account (its unit is known), is not answered in time; it is not sent
// twice but awaited on, and every record is added.
TEST_F(ConnectionTest, ControllerPausedMidRunCostsThePause) {
  ActingView view(log);
  std::optional<Pause> pause;
  view.onProgress[afterRecord(40)] = [&] { pause.emplace("", 6s); };
  WaitingCalls waiting;
  const auto outcome = import(lines(120), view, kPause, &waiting.calls);

  EXPECT_EQ(outcome.done, 120);
  EXPECT_EQ(outcome.failed, 0) << outcome.messages;
  EXPECT_THAT(waiting.notices,
              ElementsAre("Waiting for " + sandbox->server() + " to answer...", ""));
  EXPECT_TRUE(enabled(41));
  EXPECT_TRUE(enabled(120));
}

TEST_F(ConnectionTest, ControllerStoppedForGoodEndsTheRunWithEveryRecordReported) {
  ActingView view(log);
  std::optional<Freeze> freeze;
  view.onProgress[afterRecord(2)] = [&] { freeze.emplace(); };
  // Before the program's end, which closes the file share's connection too.
  view.onComplete = [&] { freeze.reset(); };
  const auto outcome = import(lines(120), view, kShort);

  EXPECT_EQ(outcome.done, 2);
  EXPECT_EQ(outcome.failed, 118);
  EXPECT_THAT(outcome.completeText, StartsWith("2 Users and Folders were added successfully!"));
  EXPECT_THAT(outcome.messages, HasSubstr("... and 98 more"));
  EXPECT_THAT(outcome.messages,
              HasSubstr(account(3) + ": home folder left alone: the account was not created "
                                     "(write the account: add "));
  EXPECT_THAT(outcome.messages,
              HasSubstr(noAnswerReason(kShort.giveUpAfter, kDomainControllerRole) + ")\n"));
  // The third record's add awaited until the controller is given up, then
  // the rest at once.
  EXPECT_GE(outcome.took, kShort.giveUpAfter);
  EXPECT_LT(outcome.took, 40s);
  EXPECT_TRUE(enabled(2));
  EXPECT_TRUE(user(120).dn.empty());
}

TEST_F(ConnectionTest, FileServerPausedMidRunCostsThePause) {
  ActingView view(log);
  std::optional<Pause> pause;
  view.onProgress[afterRecord(40)] = [&] { pause.emplace("smbd", 6s); };
  WaitingCalls waiting;
  const auto outcome = import(lines(120), view, kPause, &waiting.calls);

  // The next record's folder creation, a write sent without asking first,
  // is not answered in time; it is not sent twice but awaited on, and every
  // record gets its folder.
  EXPECT_EQ(outcome.done, 120);
  EXPECT_EQ(outcome.failed, 0) << outcome.messages;
  EXPECT_EQ(boxes(outcome.messages), 0) << outcome.messages;
  EXPECT_THAT(waiting.notices,
              ElementsAre("Waiting for " + sandbox->server() + " to answer...", ""));
}

TEST_F(ConnectionTest, FileServerStoppedForGoodCostsOneBoxAndEveryRecordIsReported) {
  ActingView view(log);
  std::optional<Freeze> freeze;
  view.onProgress[afterRecord(2)] = [&] { freeze.emplace("smbd"); };
  view.onComplete = [&] { freeze.reset(); };
  const auto outcome = import(lines(60), view, kShort);

  EXPECT_EQ(outcome.done, 2);
  EXPECT_EQ(outcome.failed, 58);
  // Far below a wait for each record (58 x 4 s): the first creation awaited
  // until the server is given up, then one timeout per hold while the
  // accounts are made.
  EXPECT_GE(outcome.took, kShort.giveUpAfter);
  EXPECT_LT(outcome.took, 60s);
  // A new account's folder is created without asking first: the record
  // that met the server has its box; those after it are listed with the
  // reason.
  const std::string folder = "\\\\" + sandbox->server() + "\\home$\\";
  EXPECT_EQ(boxes(outcome.messages), 1) << outcome.messages;
  EXPECT_THAT(outcome.messages, HasSubstr("message 0 [] Cannot create: " + folder + account(3)));
  EXPECT_THAT(outcome.messages,
              HasSubstr(account(3) + ": create the home folder: create " + folder + account(3) +
                        ": " + noAnswerReason(kShort.giveUpAfter, kFileServerRole) + ";"));
  EXPECT_THAT(outcome.messages,
              HasSubstr(account(4) + ": create the home folder: create " + folder + account(4) +
                        ": " + heldReason(kShort, kFileServerRole)));
  EXPECT_THAT(outcome.messages, HasSubstr("... and 38 more"));
  EXPECT_TRUE(enabled(60));  // the accounts are made all the same
}

TEST_F(ConnectionTest, ControllerRestartedMidRunServesTheLaterRecords) {
  ActingView view(log);
  view.onProgress[afterRecord(2)] = [] { sandboxDomain("restart"); };
  const auto outcome = import({line(1), line(2), line(3), line(4)}, view, kShort);

  EXPECT_EQ(outcome.done, 4);
  EXPECT_EQ(outcome.completeText, "4 Users and Folders were added successfully!");
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(enabled(n)) << n;
}

TEST_F(ConnectionTest, IdleDropWhileAMessageBoxWaitsCostsNoRecord) {
  constexpr int kIdleSeconds = 4;
  IdleTimeout idle(kIdleSeconds);
  ActingView view(log);
  view.onMessage = [&](const std::string& prompt) {
    if (prompt.rfind("Cannot create:", 0) == 0) std::this_thread::sleep_for(kIdleSeconds * 1s + 3s);
  };
  const auto outcome =
      import({line(1), line(2, "nohost.invalid"), line(3), line(4)}, view, ConnectionSettings{});

  EXPECT_THAT(outcome.messages, HasSubstr("Cannot create: \\\\nohost.invalid\\home$\\"));
  EXPECT_EQ(outcome.done, 3);
  EXPECT_THAT(outcome.completeText, StartsWith("3 Users and Folders were added successfully!"));
  EXPECT_TRUE(enabled(3));
  EXPECT_TRUE(enabled(4));
}

TEST_F(ConnectionTest, ResetConnectionIsReplacedForAReadAndBeforeAWrite) {
  TcpRelay relay(sandbox->address(), LDAP_PORT);
  ConfiguredServers servers(uri(relay.port()));
  LdapSession session(kCheckEveryWrite);
  session.readEntry("");
  relay.forget();
  EXPECT_FALSE(session.readEntry("").attributes.empty());  // run again on a new connection
  EXPECT_EQ(relay.connections(), 2);
  relay.forget();
  // The check before the write meets the reset, and the write a new connection.
  session.add(unitDn(), {{"objectClass", {"organizationalUnit"}}});
  EXPECT_EQ(relay.connections(), 3);
  EXPECT_FALSE(sandbox->read(unitDn()).dn.empty());
}

TEST_F(ConnectionTest, NewConnectionGoesToTheControllerBoundFirstWhileItAnswers) {
  std::optional<TcpRelay> first(std::in_place, sandbox->address(), LDAP_PORT);
  TcpRelay second(sandbox->address(), LDAP_PORT);
  ConfiguredServers servers(uri(first->port()) + " " + uri(second.port()));
  LdapSession session(kShort);
  session.readEntry("");
  servers.set(uri(second.port()) + " " + uri(first->port()));  // as DNS shuffles them
  first->forget();
  session.readEntry("");
  EXPECT_EQ(first->connections(), 2);
  EXPECT_EQ(second.connections(), 0);
  first.reset();
  session.readEntry("");
  EXPECT_EQ(second.connections(), 1);
}

TEST_F(ConnectionTest, AddressesThatNeverAnswerShareOneTimeout) {
  const SilentPort a(sandbox->address()), b(sandbox->address()), c(sandbox->address());
  const std::string silent = uri(a.port()) + " " + uri(b.port());
  for (const std::string& last : {uri(c.port()), uri(LDAP_PORT)}) {
    ConfiguredServers servers(silent + " " + last);
    LdapSession session(kShort);
    const auto start = Clock::now();
    if (last == uri(LDAP_PORT)) {
      EXPECT_FALSE(session.readEntry("").attributes.empty());
    } else {
      EXPECT_THAT(failure([&] { session.readEntry(""); }),
                  HasSubstr(last + ": the domain controller did not answer within 4 s"));
    }
    EXPECT_LT(Clock::now() - start, kShort.timeout + 1s) << last;  // not 4 s for each
  }
}

// The file server too, which signs in with the ticket whatever $USER says.
TEST_F(ConnectionTest, BindWithoutAUsableTicketSaysWhy) {
  const std::string share = "\\\\" + sandbox->server() + "\\home$";
  {
    ScopedEnvironment user("USER", "");
    EXPECT_NO_THROW(newFileServer()->isFolder(share));
    ScopedEnvironment cache("KRB5CCNAME", "FILE:" + (folder / "no-such-cache").string());
    LdapSession session(kShort);
    EXPECT_THAT(failure([&] { session.readEntry(""); }),
                HasSubstr(": no Kerberos ticket (run kinit)"));
    EXPECT_THAT(failure<FileError>([&] { newFileServer()->isFolder(share); }),
                HasSubstr("sign in to " + sandbox->server() + ": no Kerberos ticket (run kinit)"));
  }
  // Run out by this computer's clock, and one that the domain refuses as
  // expired with a minute to go: said once, in words, for a whole run.
  const std::string admin = "Administrator@" + sandbox->realm();
  const auto kinit = [&](const std::string& life) {
    const std::string cache = "FILE:" + (folder / life).string();
    const std::string command = "kinit -l " + life + " -c " + cache + " " + admin +
                                " <\"$KESTRINE_SANDBOX_ADMIN_PASSWORD_FILE\" >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return cache;
  };
  const std::string expired = kinit("3s");
  const std::string refused = kinit("1m");
  std::this_thread::sleep_for(4s);
  for (const auto& [cache, says] :
       {std::pair{expired, "the Kerberos ticket of " + admin + " expired at "},
        {refused,
         "the domain refused the Kerberos ticket of " + admin + " as expired (it runs until "}}) {
    ScopedEnvironment ticket("KRB5CCNAME", cache);
    ActingView view(log);
    const auto outcome = import(lines(3), view, kShort);
    EXPECT_EQ(outcome.failed, 3);
    // The details: the box's first lines cut a line this long short.
    EXPECT_THAT(view.summary.details + "\n",
                AllOf(HasSubstr("bind the directory (rootDSE): "), HasSubstr(says),
                      HasSubstr("; run kinit " + admin + "\n" + account(1) +
                                ": not attempted: cannot sign in (see above)\n" + account(2) +
                                ": not attempted: cannot sign in (see above)\n")))
        << cache;
    log.entries.clear();
  }
}

}  // namespace
}  // namespace kestrine::testing
