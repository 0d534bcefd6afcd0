#include <gtest/gtest.h>

#include "fake_server.h"
#include "platform/linux/smb/client.h"
#include "platform/linux/smb/ntstatus.h"

namespace kestrine::smb {
namespace {

using test::FakeSecurityContext;
using test::FakeServer;

Deadline soon() {
  return Clock::now() + std::chrono::seconds(5);
}

struct Rig {
  explicit Rig(FakeServer::Options options, bool mutual = true)
      : server(options),
        client([this](const std::string&, Deadline) { return server.transport(); },
               [mutual](const std::string&) {
                 return std::make_unique<FakeSecurityContext>(mutual);
               }) {
    server.objects[""] = FakeServer::Object{5, FILE_ATTRIBUTE_DIRECTORY, 0, {}};
  }
  FakeServer server;
  Client client;
};

const Sid kUser = Sid::parse("S-1-5-21-1-2-3-1105");

struct DialectCase {
  std::uint16_t dialect;
  std::uint16_t cipher;
  std::uint16_t signing;
};

class SmbSession : public testing::TestWithParam<DialectCase> {};

// Each dialect: signed or sealed as it allows, the new folder in one round
// trip with its protected descriptor, read back as it was sent.
TEST_P(SmbSession, CreatesAFolderWithItsDescriptorInOneRoundTrip) {
  Rig rig({GetParam().dialect, GetParam().cipher, GetParam().signing});
  const SharePath home = SharePath::parse("\\\\fs1\\home$\\jdoe");
  const SecurityDescriptor descriptor = protectedFullControl({administratorsSid(), kUser}, true);
  rig.client.stat(home, soon());  // signs in, connects the tree
  const SessionInfo* info = rig.client.sessionInfo("FS1");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->dialect, GetParam().dialect);
  EXPECT_EQ(info->cipher != 0, GetParam().cipher != 0);

  const int before = rig.server.roundTrips();
  rig.client.createFolder(home, descriptor, soon());
  EXPECT_EQ(rig.server.roundTrips() - before, 1);
  EXPECT_EQ(rig.client.readSecurity(home, soon()), descriptor);
  try {
    rig.client.createFolder(home, descriptor, soon());
    ADD_FAILURE() << "an existing folder was created again";
  } catch (const StatusError& error) {
    EXPECT_EQ(error.status(), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_STREQ(error.what(),
                 "create \\\\fs1\\home$\\jdoe: the name exists already "
                 "(STATUS_OBJECT_NAME_COLLISION, 0xC0000035)");
  }
}

INSTANTIATE_TEST_SUITE_P(Dialects, SmbSession,
                         testing::Values(DialectCase{kDialect210, 0, HMAC_SHA256},
                                         DialectCase{kDialect300, AES_128_CCM, AES_CMAC},
                                         DialectCase{kDialect302, 0, AES_CMAC},
                                         DialectCase{kDialect311, AES_128_GCM, AES_GMAC},
                                         DialectCase{kDialect311, AES_256_CCM, AES_CMAC}));

// A reply that is not believed fails the operation with a clear reason and
// closes the connection: nothing after it is read from that connection.
TEST(SmbClient, RefusesRepliesItCannotBelieve) {
  struct Case {
    const char* what;
    FakeServer::Options options;
    std::function<void(std::uint16_t, Bytes&)> alter, tamper;
    const char* reason;
  };
  auto onCreate = [](auto change) {
    return [change](std::uint16_t command, Bytes& message) {
      if (command == SMB2_CREATE) change(message);
    };
  };
  const FakeServer::Options signedOnly{kDialect210, 0, HMAC_SHA256};
  const FakeServer::Options sealed{kDialect311, AES_128_GCM, AES_CMAC};
  const Case cases[] = {
      {"a wrong signature", signedOnly, nullptr,
       onCreate([](Bytes& m) { m[kSignatureOffset] ^= 1; }), "whose signature is missing or wrong"},
      {"no signature", signedOnly, nullptr, onCreate([](Bytes& m) { m[16] &= ~SMB2_FLAGS_SIGNED; }),
       "whose signature is missing or wrong"},
      {"a plain reply on an encrypted session", sealed, nullptr, onCreate([](Bytes& m) {
         // What a relay without the key can send: a plain, unsigned reply.
         Bytes plain(m.begin() + kTransformHeaderSize, m.end());
         m = Bytes(kHeaderSize + 89, 0);
         m[0] = 0xFE, m[1] = 'S', m[2] = 'M', m[3] = 'B', m[4] = 64, m[12] = SMB2_CREATE;
         m[16] = SMB2_FLAGS_SERVER_TO_REDIR;
         m[24] = 3;  // the CREATE's MessageId after NEGOTIATE, SESSION_SETUP, TREE_CONNECT
         m[kHeaderSize] = 89;
       }),
       "a plain CREATE reply on an encrypted session"},
      {"a ciphertext altered on the way", sealed, nullptr,
       onCreate([](Bytes& m) { m.back() ^= 1; }), "does not decrypt with the session's key"},
      {"a truncated reply", signedOnly,
       [](std::uint16_t command, Bytes& m) {
         if (command == SMB2_TREE_CONNECT) m.resize(kHeaderSize + 10);
       },
       nullptr, "past the end"},
      {"a length pointing past the message", signedOnly, onCreate([](Bytes& m) {
         patchU32(m, 144, 152);     // CreateContextsOffset
         patchU32(m, 148, 0xFFFF);  // CreateContextsLength
       }),
       nullptr, "past the end"},
      {"a reply to no request", signedOnly, onCreate([](Bytes& m) { patchU64(m, 24, 77); }),
       nullptr, "a reply to no request in flight"},
  };
  for (const Case& c : cases) {
    Rig rig(c.options);
    const SharePath path = SharePath::parse("\\\\fs1\\home$\\jdoe");
    rig.server.alter = c.alter;
    rig.server.tamper = c.tamper;
    try {
      rig.client.createFolder(path, protectedFullControl({kUser}, true), soon());
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos)
          << c.what << ": " << error.what();
      EXPECT_EQ(dynamic_cast<const StatusError*>(&error), nullptr) << c.what;
    }
    EXPECT_TRUE(rig.server.closed()) << c.what;
  }
}

TEST(SmbClient, SignInRefusals) {
  {
    Rig guest({kDialect311, AES_128_GCM, AES_CMAC, SMB2_SESSION_FLAG_IS_GUEST});
    EXPECT_THROW(guest.client.stat(SharePath::parse("\\\\fs1\\home$\\x"), soon()), SignInError);
  }
  {
    Rig unproven({kDialect311, AES_128_GCM, AES_CMAC}, false);
    try {
      unproven.client.stat(SharePath::parse("\\\\fs1\\home$\\x"), soon());
      ADD_FAILURE();
    } catch (const SignInError& error) {
      EXPECT_NE(std::string(error.what()).find("did not prove who it is"), std::string::npos);
    }
  }
  {
    // The negotiation altered on the way: the 3.1.1 keys, bound to its
    // hash, do not verify the final sign-in reply.
    Rig downgraded({kDialect311, AES_128_GCM, AES_CMAC});
    downgraded.server.alter = [](std::uint16_t command, Bytes& message) {
      if (command == SMB2_NEGOTIATE) message[72] ^= 1;  // ServerGuid
    };
    EXPECT_THROW(downgraded.client.stat(SharePath::parse("\\\\fs1\\home$\\x"), soon()),
                 ReplyRefused);
  }
}

// A folder's entries set in two flights whatever their number, its
// subfolders listed in the first and set only when their listing is taken;
// a swapped entry and a junction left unchanged. A server that grants a
// compound's credits at a time makes them wait for each other, with the same
// outcome.
TEST(SmbClient, SetsAFoldersEntriesInTwoFlights) {
  for (const std::uint16_t credits : {512, 3}) {
    FakeServer::Options options{kDialect311, AES_128_GCM, AES_CMAC};
    options.grantedCredits = credits;
    Rig rig(options);
    const SharePath home = SharePath::parse("\\\\fs1\\home$\\jdoe");
    rig.server.objects["jdoe"] = FakeServer::Object{50, FILE_ATTRIBUTE_DIRECTORY, 0, {}};
    for (int i = 0; i < 40; ++i) {
      rig.server.objects["jdoe\\f" + std::to_string(i)] =
          FakeServer::Object{static_cast<std::uint64_t>(60 + i), 0x20, 0, {}};
    }
    rig.server.objects["jdoe\\up"] = FakeServer::Object{
        200, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0xA0000003, {}};
    for (std::uint64_t i = 0; i < 4; ++i) {
      const std::string sub = "jdoe\\sub" + std::to_string(i);
      rig.server.objects[sub] = FakeServer::Object{300 + i, FILE_ATTRIBUTE_DIRECTORY, 0, {}};
      rig.server.objects[sub + "\\x"] = FakeServer::Object{400 + i, 0x20, 0, {}};
    }
    rig.server.objects["jdoe\\dfs"] = FakeServer::Object{500, FILE_ATTRIBUTE_DIRECTORY, 0, {}};
    rig.server.dfsLinks.insert("jdoe\\dfs");  // to another share: not followed
    const Listing listing = rig.client.list(home, soon());
    EXPECT_EQ(listing.id, 50u);
    ASSERT_EQ(listing.entries.size(), 46u);
    const SecurityDescriptor files = protectedFullControl({administratorsSid(), kUser}, false);
    std::vector<SecurityTarget> targets;
    for (const DirectoryEntry& entry : listing.entries) {
      targets.push_back(SecurityTarget{home.child(entry.name), &files, entry.fileId,
                                       entry.name.starts_with("sub")});
    }
    rig.server.objects["jdoe\\f7"].id = 999;  // swapped after the listing
    std::string checked;
    const int before = rig.server.roundTrips();
    const std::vector<SecurityOutcome> outcomes =
        rig.client.setSecurityChecked(targets, soon(), [&](std::size_t i, const Listing& inside) {
          checked += listing.entries[i].name + " ";
          return inside.entries.size() == 1 && inside.entries[0].name == "x" && inside.id != 302;
        });
    if (credits == 512) {
      EXPECT_EQ(rig.server.roundTrips() - before, 2);
    }
    EXPECT_EQ(checked, "sub0 sub1 sub2 sub3 ");
    int set = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const std::string name = listing.entries[i].name;
      EXPECT_EQ(outcomes[i].listing.has_value(), name.starts_with("sub")) << name;
      if (name == "f7" || name == "up" || name == "sub2" || name == "dfs") {
        EXPECT_EQ(static_cast<bool>(outcomes[i].error), name != "sub2") << name;
        if (outcomes[i].error) {
          EXPECT_THROW(std::rethrow_exception(outcomes[i].error), ObjectChanged) << name;
        }
        EXPECT_FALSE(outcomes[i].set) << name;
        EXPECT_TRUE(rig.server.objects["jdoe\\" + name].descriptor.empty()) << name;
      } else {
        EXPECT_FALSE(outcomes[i].error) << name;
        EXPECT_TRUE(outcomes[i].set) << name;
        EXPECT_EQ(rig.server.objects["jdoe\\" + name].descriptor, encodeSecurityDescriptor(files));
        ++set;
      }
    }
    EXPECT_EQ(set, 42);
  }
}

TEST(SmbClient, WaitsThroughAnInterimReplyAndStopsAtItsDeadline) {
  Rig rig({kDialect311, AES_128_GCM, AES_CMAC});
  rig.server.objects["jdoe"] = FakeServer::Object{50, FILE_ATTRIBUTE_DIRECTORY, 0, {}};
  rig.server.goAsync = SMB2_CREATE;
  const SharePath home = SharePath::parse("\\\\fs1\\home$\\jdoe");
  EXPECT_EQ(rig.client.stat(home, soon())->fileId, 50u);
  // A server that does not answer: the operation fails at its deadline, and
  // the connection is not used again.
  rig.server.goAsync.reset();
  rig.server.silent = true;
  try {
    rig.client.stat(home, soon());
    ADD_FAILURE() << "an answer that never came";
  } catch (const TransportError& error) {
    EXPECT_EQ(error.failure(), TransportFailure::kTimedOut);
  }
  EXPECT_TRUE(rig.server.closed());
}

}  // namespace
}  // namespace kestrine::smb
