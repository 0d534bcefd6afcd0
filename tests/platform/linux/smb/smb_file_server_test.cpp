#include "platform/linux/smb/smb_file_server.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "fake_server.h"
#include "platform/grant/full_control_grant.h"

namespace kestrine {
namespace {

using namespace std::chrono_literals;
using smb::Clock;
using smb::Deadline;
using smb::test::FakeSecurityContext;
using smb::test::FakeServer;

const std::string kFolder = "\\\\fs1.example.com\\home$\\jdoe";

// Waits as the run's thread would, and keeps whom for.
class RecordingWait : public NetworkWait {
 public:
  void run(const std::function<void()>& call) override { call(); }
  void waitFor(const std::string& server, Clock::duration time) override {
    waited.push_back(server);
    std::this_thread::sleep_for(time);
  }
  std::vector<std::string> waited;
};

FileError thrown(SmbFileServer& server) {
  try {
    server.isFolder(kFolder);
  } catch (const FileError& e) {
    return e;
  }
  ADD_FAILURE() << "the call did not fail";
  return FileError(0, "");
}

// A server that never answers: the call that waits out its hold names it,
// its own wait starts after that one, and it is given up once it has gone
// unanswered for `giveUpAfter`; the calls after that fail at once.
TEST(SmbFileServer, UnansweringServerIsWaitedForThenGivenUp) {
  const ConnectionSettings settings{.timeout = 5s, .retryAfter = 1s, .giveUpAfter = 1s};
  std::vector<Clock::duration> allowed;  // each connect's time to its deadline
  RecordingWait wait;
  SmbFileServer server(
      std::make_unique<smb::Client>(
          [&](const std::string&, Deadline deadline) -> std::unique_ptr<smb::Transport> {
            allowed.push_back(deadline - Clock::now());
            throw smb::TransportError(smb::TransportFailure::kTimedOut, "no answer");
          },
          [](const std::string&) { return std::make_unique<FakeSecurityContext>(); }),
      settings, &wait);

  const FileError first = thrown(server);
  EXPECT_EQ(first.code(), ETIMEDOUT);
  EXPECT_EQ(first.kind(), FailureKind::kOther);
  EXPECT_TRUE(wait.waited.empty());

  const FileError waited = thrown(server);
  EXPECT_EQ(waited.kind(), FailureKind::kServerGivenUp);
  EXPECT_EQ(wait.waited, std::vector<std::string>{"fs1.example.com"});
  ASSERT_EQ(allowed.size(), 2u);
  EXPECT_GT(allowed[1], 4900ms);  // not shortened by the second's wait for the hold

  const auto start = Clock::now();
  const FileError atOnce = thrown(server);
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(atOnce.kind(), FailureKind::kServerGivenUp);
  EXPECT_EQ(std::string(atOnce.what()),
            "list " + kFolder + ": " + heldReason(settings, kFileServerRole));
  EXPECT_EQ(allowed.size(), 2u);
}

// The caller's ticket is the same trouble for every server: told as a
// sign-in failure; a refusal of one server's is not.
TEST(SmbFileServer, SignInFailuresOfTheTicketAreToldAsSuch) {
  class Refusing : public smb::SecurityContext {
   public:
    explicit Refusing(smb::SignInFailure failure) : failure_(failure) {}
    std::vector<std::uint8_t> step(std::span<const std::uint8_t>, Deadline) override {
      throw smb::SignInError(failure_, "sign in to fs1.example.com: refused");
    }
    bool complete() const override { return false; }
    std::vector<std::uint8_t> sessionKey() const override { return {}; }

   private:
    smb::SignInFailure failure_;
  };
  const std::pair<smb::SignInFailure, FailureKind> cases[] = {
      {smb::SignInFailure::kNoTicket, FailureKind::kSignIn},
      {smb::SignInFailure::kTicketExpired, FailureKind::kSignIn},
      {smb::SignInFailure::kNoServiceTicket, FailureKind::kOther},
      {smb::SignInFailure::kRefused, FailureKind::kOther},
  };
  for (const auto& [failure, kind] : cases) {
    FakeServer fake({});
    SmbFileServer server(
        std::make_unique<smb::Client>(
            [&](const std::string&, Deadline) { return fake.transport(); },
            [failure](const std::string&) { return std::make_unique<Refusing>(failure); }),
        {}, nullptr);
    const FileError error = thrown(server);
    EXPECT_EQ(error.code(), EACCES) << error.what();
    EXPECT_EQ(error.kind(), kind) << error.what();
  }
}

// The walk through the seam over a server in memory: every object below the
// home folder set, each folder in two round trips (its entries' checked opens
// with its subfolders' listings, then the sets) whatever it holds.
TEST(SmbFileServer, WalkSetsEveryObjectInTwoRoundTripsPerFolder) {
  FakeServer fake({smb::kDialect311, smb::AES_128_GCM, smb::AES_CMAC});
  std::uint64_t id = 50;
  for (const std::string folder :
       {"", "jdoe", "jdoe\\a", "jdoe\\a\\x", "jdoe\\a\\y", "jdoe\\b", "jdoe\\b\\x", "jdoe\\b\\y"}) {
    fake.objects[folder] = FakeServer::Object{id++, smb::FILE_ATTRIBUTE_DIRECTORY, 0, {}};
    for (int i = 0; i < 6 && !folder.empty(); ++i) {
      fake.objects[folder + "\\f" + std::to_string(i)] = FakeServer::Object{id++, 0x20, 0, {}};
    }
  }
  auto server = std::make_shared<SmbFileServer>(
      std::make_unique<smb::Client>(
          [&](const std::string&, Deadline) { return fake.transport(); },
          [](const std::string&) { return std::make_unique<FakeSecurityContext>(); }),
      ConnectionSettings{}, nullptr);
  ASSERT_TRUE(server->isFolder(kFolder));  // the run's question, which lists it

  const int before = fake.roundTrips();
  const GrantResult result =
      FullControlGrant(server).grantFullControl(kFolder, "S-1-5-21-1-2-3-1104", false);
  EXPECT_EQ(result.exitCode, 0) << result.reason;
  // The home folder's own set in one compound, then two for each of the 7.
  EXPECT_EQ(fake.roundTrips() - before, 1 + 2 * 7);
  for (const auto& [path, object] : fake.objects) {
    EXPECT_EQ(!object.descriptor.empty(), path.starts_with("jdoe")) << path;
  }
}

}  // namespace
}  // namespace kestrine
