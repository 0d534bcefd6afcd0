// The grant's walk below a home folder over a share held in memory: trees that
// loop, names that collide, chains deeper than any home folder.
#include "platform/linux/smb/smb_permissions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <stdexcept>

namespace kestrine {
namespace {

using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;

constexpr const char* kSid = "S-1-5-21-1-2-3-1104";

class Accounts : public AccountLookup {
 public:
  std::string accountSid(const std::string&) override { return kSid; }
};

// Folders as nodes; an entry names the node it leads to, so that a node can
// be reached under several names and from below itself, as links and
// junctions on a real server make it.
class FakeShare : public ShareAccess {
 public:
  struct Link {
    std::string name;
    std::string node;  // "" for a file
  };
  struct Node {
    std::uint64_t id = 0;
    std::vector<Link> links;
  };

  bool createdJustNow(const UncPath& path) const override { return fresh && path == home(); }

  Listing list(const UncPath& path) override {
    ++lists;
    if (lists > 100'000) throw std::logic_error("the walk does not end");
    const std::string name = resolve(path);
    if (refusedLists.count(name)) throw FileError(EACCES, "list " + path.text() + ": denied");
    Listing listing{nodes.at(name).id, {}};
    for (const Link& link : nodes.at(name).links) {
      const bool folder = !link.node.empty();
      listing.entries.push_back({link.name, folder, folder ? nodes.at(link.node).id : 0});
    }
    return listing;
  }

  void setSecurityDescriptor(const UncPath& path, const std::string& descriptor) override {
    const std::string url = path.url();  // as SmbContext: nothing it refuses is sent
    if (refusedSets.count(path.text())) throw FileError(EACCES, "set " + path.text() + ": denied");
    set[url].push_back(descriptor);
  }

  static UncPath home() { return *parseUncPath("\\\\srv\\home$\\jdoe"); }
  // A chain of `depth` folders below `from`, each with a file.
  void chain(const std::string& from, int depth) {
    std::string above = from;
    for (int level = 1; level <= depth; ++level) {
      const std::string node = from + "/" + std::to_string(level);
      nodes[node].id = nextId++;
      nodes[above].links.push_back({"d" + std::to_string(level), node});
      nodes[node].links.push_back({"f.txt", ""});
      above = node;
    }
  }

  std::map<std::string, Node> nodes{{"home", {1, {}}}};
  std::map<std::string, std::vector<std::string>> set;  // url -> descriptors set
  std::set<std::string> refusedLists;                   // nodes
  std::set<std::string> refusedSets;                    // paths as text()
  bool fresh = false;
  int lists = 0;
  std::uint64_t nextId = 100;

 private:
  std::string resolve(const UncPath& path) const {
    std::string node = "home";
    for (std::size_t i = 1; i < path.folders.size(); ++i) {
      const auto& links = nodes.at(node).links;
      const auto link = std::find_if(links.begin(), links.end(),
                                     [&](const Link& l) { return l.name == path.folders[i]; });
      if (link == links.end() || link->node.empty()) {
        throw FileError(ENOENT, "list " + path.text() + ": no such folder");
      }
      node = link->node;
    }
    return node;
  }
};

class GrantWalk : public ::testing::Test {
 protected:
  GrantResult grant() {
    SmbPermissionShell shell(share, accounts);
    return shell.grantFullControl("\\\\srv\\home$\\jdoe", "jdoe");
  }
  static std::string url(const std::string& below) {
    return "smb://srv/home%24/jdoe" + (below.empty() ? "" : "/" + below);
  }
  // Every path set, and how often.
  std::map<std::string, std::size_t> counts() const {
    std::map<std::string, std::size_t> result;
    for (const auto& [path, descriptors] : share->set) result[path] = descriptors.size();
    return result;
  }

  std::shared_ptr<FakeShare> share = std::make_shared<FakeShare>();
  Accounts accounts;
};

TEST_F(GrantWalk, SetsTheFolderAndEverythingBelowOnceWithInheritanceOnFoldersOnly) {
  share->chain("home", 2);
  share->nodes["home"].links.push_back({"notes.txt", ""});
  EXPECT_EQ(grant().exitCode, 0);
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{url(""), 1},
                                                          {url("d1"), 1},
                                                          {url("d1/f.txt"), 1},
                                                          {url("d1/d2"), 1},
                                                          {url("d1/d2/f.txt"), 1},
                                                          {url("notes.txt"), 1}}));
  EXPECT_EQ(share->set[url("d1/d2")][0], fullControlDescriptor(kSid, true));
  EXPECT_EQ(share->set[url("notes.txt")][0], fullControlDescriptor(kSid, false));
}

TEST_F(GrantWalk, FolderJustCreatedIsNotListed) {
  share->fresh = true;
  share->chain("home", 3);
  EXPECT_EQ(grant().exitCode, 0);
  EXPECT_EQ(share->lists, 0);
  EXPECT_THAT(share->set, SizeIs(1));
}

TEST_F(GrantWalk, LinksBackUpAreNotEnteredAgain) {
  // d1 lists the home folder as "up" and itself as "self"; d2 lists d1 as "back".
  share->chain("home", 2);
  share->nodes["home/1"].links.push_back({"up", "home"});
  share->nodes["home/1"].links.push_back({"self", "home/1"});
  share->nodes["home/2"].links.push_back({"back", "home/1"});
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, 0) << result.reason;
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{url(""), 1},
                                                          {url("d1"), 1},
                                                          {url("d1/f.txt"), 1},
                                                          {url("d1/d2"), 1},
                                                          {url("d1/d2/f.txt"), 1}}));
}

TEST_F(GrantWalk, LoopWithoutFileIdsEndsAtTheDepthLimit) {
  // A server that gives no IDs: a folder listing itself looks like an endless chain.
  share->nodes["home"] = {0, {{"again", "home"}, {"file.txt", ""}}};
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, ELOOP);
  EXPECT_THAT(result.reason, HasSubstr("more than 64 folder levels below \\\\srv\\home$\\jdoe"));
  EXPECT_EQ(share->lists, kMaxFolderDepth);
  // The top, then 64 levels of "again" each with its file, every path once.
  EXPECT_THAT(share->set, SizeIs(1 + 2 * kMaxFolderDepth));
  EXPECT_THAT(counts(), Each(::testing::Pair(::testing::_, 1u)));
}

TEST_F(GrantWalk, DeepChainStopsAtTheLimitAndTheWalkGoesOnElsewhere) {
  share->chain("home", 100);
  share->chain("home/1", 2);  // a second branch below d1, walked after the deep one
  share->nodes["home"].links.push_back({"top.txt", ""});
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, ELOOP);
  std::string deepest = "d1";
  for (int level = 2; level <= kMaxFolderDepth; ++level) deepest += "/d" + std::to_string(level);
  EXPECT_EQ(counts()[url(deepest)], 1u);
  EXPECT_EQ(counts().count(url(deepest + "/f.txt")), 0u);
  EXPECT_EQ(counts()[url(deepest.substr(0, deepest.rfind('/')) + "/f.txt")], 1u);
  EXPECT_EQ(counts()[url("d1/d1/d2/f.txt")], 1u);
  EXPECT_EQ(counts()[url("top.txt")], 1u);
  EXPECT_THAT(result.reason, Not(HasSubstr("more below")));  // one limit, reported once
}

TEST_F(GrantWalk, NamesThatDifferOnlyInCaseAreSetOnceAndReported) {
  share->nodes["home"].links = {{"Sub", ""}, {"sub", ""}, {"same", ""}, {"same", ""}};
  const GrantResult result = grant();
  EXPECT_EQ(counts(),
            (std::map<std::string, std::size_t>{{url(""), 1}, {url("Sub"), 1}, {url("same"), 1}}));
  // Listed twice under one name: done once, nothing to report.
  EXPECT_EQ(result.exitCode, EEXIST);
  EXPECT_THAT(result.reason, HasSubstr("\\\\srv\\home$\\jdoe\\sub: left unchanged"));
  EXPECT_THAT(result.reason, Not(HasSubstr("more below")));
}

TEST_F(GrantWalk, NamesNoSmbPathCanCarryAreReportedNotSent) {
  share->nodes["home"].links = {
      {std::string("vic\0tim", 7), ""}, {"a\x1b", ""}, {"x/y", ""}, {"..", ""}, {"ok", ""}};
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, EINVAL);
  EXPECT_THAT(result.reason,
              HasSubstr("\"vic\xE2\x90\x80tim\" holds a control character (U+0000)"));
  EXPECT_THAT(result.reason, HasSubstr("(and 3 more below \\\\srv\\home$\\jdoe)"));
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{url(""), 1}, {url("ok"), 1}}));
}

TEST_F(GrantWalk, FailuresBelowAreCountedAndTheRestIsStillDone) {
  share->chain("home", 3);
  share->chain("home/1", 1);
  share->refusedLists.insert("home/2");
  share->refusedSets.insert("\\\\srv\\home$\\jdoe\\d1\\f.txt");
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, EACCES);
  EXPECT_THAT(result.reason, HasSubstr("(and 1 more below \\\\srv\\home$\\jdoe)"));
  EXPECT_EQ(counts()[url("d1/d1/f.txt")], 1u);
  EXPECT_EQ(counts()[url("d1/d2")], 1u);
  EXPECT_EQ(counts().count(url("d1/d2/d3")), 0u);
}

}  // namespace
}  // namespace kestrine
