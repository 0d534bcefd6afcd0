// The file server client (newFileServer) against the sandbox's file server: a
// server that drops its connections or stops answering, and a home folder
// whose links loop. The fixture's own client arranges and reads access lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/directory/directory_values.h"
#include "platform/grant/full_control_grant.h"
#include "platform/linux/host_services.h"
#include "tests/integration/import_fixture.h"
#include "tests/integration/tcp_relay.h"

namespace kestrine::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kAdministrators = "S-1-5-32-544";

std::string readLink(const std::string& path) {
  std::error_code error;
  return std::filesystem::read_symlink(path, error).string();
}

std::string processName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

pid_t parentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const auto end = text.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream rest(text.substr(end + 2));
  char state = 0;
  pid_t parent = 0;
  rest >> state >> parent;
  return parent;
}

// The smbd processes of this sandbox: those in the network namespace that
// `scripts/sandbox-domain exec` runs the tests in. `connections` keeps only
// those serving a client (smbd's children that are named smbd themselves).
std::vector<pid_t> sandboxSmbd(bool connections) {
  const std::string ownNamespace = readLink("/proc/self/ns/net");
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (pid == getpid() || readLink(entry.path().string() + "/ns/net") != ownNamespace) continue;
    if (processName(pid) != "smbd") continue;
    if (connections && processName(parentOf(pid)) != "smbd") continue;
    found.push_back(pid);
  }
  return found;
}

// Drops every SMB connection of the sandbox, as an idle disconnect or a
// crash of the process serving it would.
void dropConnections() {
  const auto serving = sandboxSmbd(true);
  ASSERT_FALSE(serving.empty()) << "no smbd serves a connection";
  for (const pid_t pid : serving) kill(pid, SIGKILL);
  for (int i = 0; i < 50 && !sandboxSmbd(true).empty(); ++i) usleep(100'000);
}

class FileServer : public ImportFixture {
 protected:
  void SetUp() override {
    ImportFixture::SetUp();
    local = sandbox->shareDir() + "/" + account("fs");
    std::filesystem::create_directories(local);
    std::ofstream(local + "/notes.txt") << "kept\n";
  }

  std::string folder(const std::string& below = "") const {
    std::string path = homeFolder("fs");
    for (const auto& piece : std::filesystem::path(below)) path += "\\" + piece.string();
    return path;
  }

  std::string local;
};

TEST_F(FileServer, CallAfterADroppedConnectionConnectsAfresh) {
  const auto server = newFileServer();
  const std::string descriptor = this->descriptor(folder());
  // A dropped connection shows only when a call on it fails; each kind of
  // call is made right after a drop (the listing first, as the folder
  // question keeps what it read for the next one).
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"list", [&] { EXPECT_EQ(server->list(folder()).entries.size(), 1u); }},
      {"is a folder", [&] { EXPECT_TRUE(server->isFolder(folder())); }},
      {"read", [&] { EXPECT_EQ(this->descriptor(folder()), descriptor); }},
      {"set",
       [&] {
         server->setFullControl(folder(), {kAdministrators, true});
       }},
      {"create", [&] { EXPECT_TRUE(server->createFolder(folder("made"), kAdministrators)); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    dropConnections();
    EXPECT_NO_THROW(call());
  }
  EXPECT_TRUE(std::filesystem::is_directory(local + "/made"));
}

// What the question "is a folder there" read serves the same record's second
// question and its grant's listing, even after the folder's access list is
// set; never a later question or another path.
TEST_F(FileServer, FolderQuestionKeepsWhatItReadForTheRecordOnly) {
  const auto server = newFileServer();
  EXPECT_FALSE(server->isFolder(folder("nothing")));
  EXPECT_FALSE(server->isFolder(folder("notes.txt")));
  ASSERT_TRUE(server->isFolder(folder()));
  server->setFullControl(folder(), {kAdministrators, true});
  std::filesystem::remove_all(local);  // from here only what was read says "there"
  EXPECT_TRUE(server->isFolder(folder()));
  EXPECT_EQ(server->list(folder()).entries.size(), 1u);
  EXPECT_THROW(server->list(folder()), FileError);
  EXPECT_FALSE(server->isFolder(folder()));
}

TEST_F(FileServer, CallsAfterAServerRestartConnectAfresh) {
  const auto server = newFileServer();
  server->setFullControl(folder(), {kAdministrators, true});
  const std::string descriptor = this->descriptor(folder());
  sandboxDomain("restart");
  EXPECT_EQ(this->descriptor(folder()), descriptor);
  EXPECT_NO_THROW(server->setFullControl(folder(), {kAdministrators, true}));
  EXPECT_EQ(server->list(folder()).entries.size(), 1u);
}

TEST_F(FileServer, ServerThatStopsAnsweringFailsTheCallWithAPlainReason) {
  const auto server =
      newFileServer({.timeout = std::chrono::seconds(2), .retryAfter = std::chrono::seconds(2)});
  server->list(folder());
  const auto stopped = sandboxSmbd(false);
  ASSERT_FALSE(stopped.empty());
  for (const pid_t pid : stopped) kill(pid, SIGSTOP);
  const auto started = std::chrono::steady_clock::now();
  try {
    server->list(folder());
    ADD_FAILURE() << "a stopped server answered";
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), ETIMEDOUT);
    EXPECT_THAT(e.what(), HasSubstr("the file server did not answer within 2 s"));
  }
  const auto waited = std::chrono::steady_clock::now() - started;
  for (const pid_t pid : stopped) kill(pid, SIGCONT);
  // One wait, not one for each request the call makes.
  EXPECT_LT(waited, std::chrono::seconds(3));
  // Answering again, the server is asked again once its hold of 2 s is over.
  EXPECT_NO_THROW(server->list(folder()));
  EXPECT_GE(std::chrono::steady_clock::now() - started, waited + std::chrono::milliseconds(1900));
}

// Access lists go over the share's own connection: no IPC$ or LSA service
// is needed, and none is used.
TEST_F(FileServer, ConnectionsAreSignedAndSealedAndNeedNoIpc) {
  const auto server = newFileServer();
  sandboxDomain("ipc off");
  const struct On {
    ~On() { sandboxDomain("ipc on"); }
  } on;
  server->list(folder());
  server->setFullControl(folder(), {kAdministrators, true});
  // A line for each share in use, its encryption and signing "-" where none.
  const std::string shares = sandboxDomain("smbstatus -S");
  EXPECT_THAT(shares,
              AllOf(HasSubstr("\nhome$ "), Not(HasSubstr("\nIPC$ ")), Not(HasSubstr(" - "))));
}

TEST_F(FileServer, NameWithAControlCharacterNeverReachesTheServer) {
  // libsmbclient would cut "fs<NUL>x" to "fs": this folder.
  const std::string before = descriptor(folder());
  const std::string cut = folder() + std::string(1, '\0') + "x";
  const auto server = newFileServer();
  EXPECT_THROW(server->isFolder(cut), FileError);
  EXPECT_THROW(server->list(cut), FileError);
  EXPECT_THROW(server->createFolder(cut + "\\sub", ""), FileError);
  try {
    server->setFullControl(cut, {"S-1-1-0", true});
    ADD_FAILURE() << "sent";
  } catch (const FileError& e) {
    EXPECT_EQ(e.code(), EINVAL);
    EXPECT_THAT(e.what(),
                HasSubstr("set the access list of " + folder() + "\xE2\x90\x80x: the name"));
  }
  FullControlGrant shell(newFileServer());
  EXPECT_EQ(shell.grantFullControl(cut, kAdministrators, false).exitCode, EINVAL);
  EXPECT_EQ(descriptor(folder()), before);
  EXPECT_FALSE(std::filesystem::exists(local + "/sub"));
}

// Links that the server follows without telling: to the folder above, to the
// folder itself, and to the share's root with another user's folder in it.
TEST_F(FileServer, GrantNeverFollowsLinksAndEndsOnFoldersTooDeep) {
  std::filesystem::create_directories(local + "/sub");
  std::filesystem::create_directory_symlink("..", local + "/sub/up");
  std::filesystem::create_directory_symlink(".", local + "/sub/self");
  std::filesystem::create_directory_symlink("..", local + "/root");
  const std::string other = sandbox->shareDir() + "/" + account("other");
  std::filesystem::create_directories(other);
  std::ofstream(other + "/secret.txt") << "theirs\n";
  const std::string shareRoot = "\\\\" + sandbox->server() + "\\home$";
  std::map<std::string, std::string> untouched;
  for (const std::string& path : {shareRoot, shareRoot + "\\" + account("other"),
                                  shareRoot + "\\" + account("other") + "\\secret.txt"}) {
    untouched[path] = descriptor(path);
  }
  std::string levels = "deep";
  for (int level = 2; level <= kMaxFolderDepth; ++level) levels += "/d" + std::to_string(level);
  const std::string beyond = levels + "/below";
  std::filesystem::create_directories(local + "/" + beyond);
  untouched[folder(beyond)] = descriptor(folder(beyond));

  const std::string sid = sidText(
      first(sandbox->read("CN=Administrator,CN=Users," + sandbox->domainDn()), "objectSid"));
  FullControlGrant shell(newFileServer());
  const auto started = std::chrono::steady_clock::now();
  const GrantResult result = shell.grantFullControl(folder(), sid, true);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));

  // The links of sub and of the home folder, and the depth limit.
  EXPECT_EQ(result.exitCode, ELOOP) << result.reason;
  EXPECT_THAT(result.reason, HasSubstr("(and 2 more below " + folder() + ")"));
  const std::vector<std::string> granted = {std::string(kAdministrators) + ":0/0x3/0x001f01ff",
                                            sid + ":0/0x3/0x001f01ff"};
  EXPECT_EQ(accessEntries(folder("sub")), granted);
  EXPECT_EQ(accessEntries(folder(levels)), granted);  // 64 levels below
  // A folder there before its account: the Administrators own all of it.
  EXPECT_THAT(descriptor(folder("notes.txt")), HasSubstr(",OWNER:S-1-5-32-544,"));
  for (const auto& [path, before] : untouched) EXPECT_EQ(descriptor(path), before) << path;
  std::ifstream kept(local + "/notes.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n");
}

// A tree of folders and files, every one set by the batches of its folder,
// and a link to another account's folder among them left as it is.
TEST_F(FileServer, GrantSetsEveryObjectOfANestedTreeAndLeavesALinkAlone) {
  std::vector<std::string> objects = {"", "notes.txt"};
  for (const std::string below : {"a", "a/c", "a/c/d", "b"}) {
    std::filesystem::create_directories(local + "/" + below);
    objects.insert(objects.end(), {below, below + "/f0", below + "/f1"});
    for (const char* file : {"/f0", "/f1"}) std::ofstream(local + "/" + below + file) << file;
  }
  std::filesystem::create_directories(sandbox->shareDir() + "/" + account("theirs"));
  std::filesystem::create_directory_symlink("../../../" + account("theirs"), local + "/a/c/link");
  const std::string theirs = "\\\\" + sandbox->server() + "\\home$\\" + account("theirs");
  const std::string before = descriptor(theirs);

  const std::string sid = sidText(
      first(sandbox->read("CN=Administrator,CN=Users," + sandbox->domainDn()), "objectSid"));
  const GrantResult result =
      FullControlGrant(newFileServer()).grantFullControl(folder(), sid, false);
  EXPECT_EQ(result.reason,
            folder("a/c") + ": junctions and links are not followed; left unchanged: link");
  for (const std::string& object : objects) {
    const std::string inherit = std::filesystem::is_directory(local + "/" + object)
                                    ? ":0/0x3/0x001f01ff"
                                    : ":0/0x0/0x001f01ff";
    EXPECT_EQ(accessEntries(folder(object)),
              (std::vector<std::string>{kAdministrators + inherit, sid + inherit}))
        << object;
  }
  EXPECT_EQ(descriptor(theirs), before);
}

// A home share reached through a DFS link (homedfs$\home leads to home$):
// the folder is made, with its access list, and granted at the link's target.
TEST_F(FileServer, FolderBehindADfsLinkIsMadeAndGrantedAtItsTarget) {
  const std::string name = account("dfs");
  const std::string viaLink = "\\\\" + sandbox->server() + "\\homedfs$\\home\\" + name;
  const auto server = newFileServer();
  ASSERT_TRUE(server->createFolder(viaLink, kAdministrators));
  const std::string target = sandbox->shareDir() + "/" + name;
  ASSERT_TRUE(std::filesystem::is_directory(target));
  std::ofstream(target + "/notes.txt") << "kept\n";
  const std::string sid = sidText(
      first(sandbox->read("CN=Administrator,CN=Users," + sandbox->domainDn()), "objectSid"));

  FullControlGrant shell(newFileServer());
  EXPECT_EQ(shell.grantFullControl(viaLink, sid, false).exitCode, 0);
  const std::string atTarget = homeFolder("dfs");
  const std::string suffix = ":0/0x0/0x001f01ff";
  EXPECT_EQ(accessEntries(atTarget + "\\notes.txt"),
            (std::vector<std::string>{kAdministrators + suffix, sid + suffix}));
  EXPECT_THAT(controlFlags(atTarget), Contains("PD"));
}

// Replies altered on the way, through a relay in front of the sandbox's
// file server: each is refused, the call fails saying so, nothing crashes.
TEST_F(FileServer, AlteredRepliesAreRefusedWithAReason) {
  using Action = ReplyTamper::Action;
  const struct {
    const char* what;
    ReplyTamper tamper;
  } cases[] = {
      // The sign-in's last reply is the first signed one.
      {"a wrong signature", {.action = Action::kFlipSignature, .command = 1}},
      {"a plain reply on an encrypted session",
       {.action = Action::kPlainError, .encrypted = true, .errorCommand = 3}},  // TREE_CONNECT
      {"a truncated reply", {.action = Action::kTruncate, .command = 0, .offset = 70}},
      // NEGOTIATE's SecurityBufferLength.
      {"a length past the message",
       {.action = Action::kPatch, .command = 0, .offset = 122, .width = 2, .value = 0xFFFF}},
  };
  TcpRelay relay(sandbox->relayAddress(), 445, sandbox->address(), 445);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    relay.tamper(c.tamper);
    const std::string path = "\\\\" + sandbox->relayServer() + "\\home$\\" + account("tampered");
    try {
      newFileServer()->createFolder(path, kAdministrators);
      ADD_FAILURE() << "believed";
    } catch (const FileError& e) {
      RecordProperty(c.what, e.what());  // in the XML report
      EXPECT_EQ(e.code(), EPROTO) << e.what();
      EXPECT_THAT(e.what(), HasSubstr("create " + path + ": ")) << e.what();
    }
    EXPECT_EQ(relay.tampered(), &c - cases + 1);
    std::filesystem::remove_all(sandbox->shareDir() + "/" + account("tampered"));
  }
}

}  // namespace
}  // namespace kestrine::testing
