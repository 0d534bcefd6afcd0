// Against the sandbox's file server: run inside `scripts/sandbox-domain exec`.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/smb/client.h"
#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb {
namespace {

Deadline soon() {
  return Clock::now() + std::chrono::seconds(30);
}

std::string unique(const std::string& stem) {
  return stem + "-" + std::to_string(getpid()) + "-" +
         std::to_string(Clock::now().time_since_epoch().count() % 1000000);
}

// KESTRINE_SMB_FUZZ_SEEDS=<folder>: every reply as it came, as a seed of the
// fuzzer's (tests/fuzz/smb_corpus/ holds those of the 2.x dialects, which
// are not encrypted).
class RecordingTransport : public Transport {
 public:
  RecordingTransport(std::unique_ptr<Transport> inner, std::string folder)
      : inner_(std::move(inner)), folder_(std::move(folder)) {}
  void send(std::span<const std::uint8_t> message, Deadline deadline) override {
    inner_->send(message, deadline);
  }
  std::vector<std::uint8_t> receive(Deadline deadline) override {
    std::vector<std::uint8_t> reply = inner_->receive(deadline);
    std::ofstream seed(
        folder_ + "/sandbox-" + std::to_string(getpid()) + "-" + std::to_string(count_++),
        std::ios::binary);
    seed.put(0);
    seed.write(reinterpret_cast<const char*>(reply.data()),
               static_cast<std::streamsize>(reply.size()));
    return reply;
  }
  void shutdown() override { inner_->shutdown(); }

 private:
  std::unique_ptr<Transport> inner_;
  std::string folder_;
  int count_ = 0;
};

std::unique_ptr<Transport> connect(const std::string& server, Deadline deadline) {
  std::unique_ptr<Transport> transport = connectTcp(server, 445, deadline);
  if (const char* seeds = std::getenv("KESTRINE_SMB_FUZZ_SEEDS")) {
    return std::make_unique<RecordingTransport>(std::move(transport), seeds);
  }
  return transport;
}

class SandboxSmb : public testing::TestWithParam<std::uint16_t> {};

// Each dialect the sandbox speaks: signed, sealed from 3.0 on; a protected
// folder made in one round trip and read back, listed, set again.
TEST_P(SandboxSmb, FolderWithAProtectedAccessList) {
  Client client(connect, [](const std::string& server) { return kerberosSignIn(server); },
                {GetParam()});
  const Sid users = Sid::parse("S-1-5-32-545");
  const SharePath share = SharePath::parse("\\\\dc1.kestrine.test\\home$");
  const SharePath folder = share.child(unique("smb-" + dialectName(GetParam())));
  const SecurityDescriptor descriptor = protectedFullControl({administratorsSid(), users}, true);
  client.createFolder(folder, descriptor, soon());
  const SessionInfo* info = client.sessionInfo("dc1.kestrine.test");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->dialect, GetParam());
  EXPECT_EQ(info->cipher != 0, isSmb3(GetParam()));

  const SecurityDescriptor back = client.readSecurity(folder, soon());
  EXPECT_TRUE(back.control & SE_DACL_PROTECTED);
  ASSERT_TRUE(back.dacl);
  ASSERT_EQ(back.dacl->aces.size(), 2u);
  EXPECT_EQ(back.dacl->aces[1].sid, users);
  EXPECT_EQ(back.dacl->aces[1].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);

  const std::optional<ObjectInfo> there = client.stat(folder, soon());
  ASSERT_TRUE(there);
  EXPECT_TRUE(there->isFolder());
  EXPECT_FALSE(client.stat(folder.child("nothing"), soon()));
  const Listing listing = client.list(share, soon());
  const auto found = std::find_if(listing.entries.begin(), listing.entries.end(),
                                  [&](const DirectoryEntry& e) { return e.name == folder.path; });
  ASSERT_NE(found, listing.entries.end());
  EXPECT_EQ(found->fileId, there->fileId);

  const SecurityDescriptor onlyAdministrators = protectedFullControl({administratorsSid()}, true);
  EXPECT_EQ(client.setSecurity(folder, onlyAdministrators, soon()).fileId, there->fileId);
  EXPECT_EQ(client.readSecurity(folder, soon()).dacl->aces.size(), 1u);
  try {
    client.createFolder(folder, descriptor, soon());
    ADD_FAILURE() << "created twice";
  } catch (const StatusError& error) {
    EXPECT_EQ(error.status(), STATUS_OBJECT_NAME_COLLISION);
  }
}

INSTANTIATE_TEST_SUITE_P(Dialects, SandboxSmb,
                         testing::Values(kDialect202, kDialect210, kDialect300, kDialect302,
                                         kDialect311),
                         [](const auto& info) {
                           std::string name = dialectName(info.param);
                           std::replace(name.begin(), name.end(), '.', '_');
                           return "SMB" + name;
                         });

}  // namespace
}  // namespace kestrine::smb
