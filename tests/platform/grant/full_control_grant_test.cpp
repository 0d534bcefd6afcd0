// The grant's walk below a home folder over a share held in memory: trees that
// loop, junctions and links, names that collide, chains deeper than any home
// folder.
#include "platform/grant/full_control_grant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "platform/text/path_names.h"

namespace kestrine {
namespace {

using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;

constexpr const char* kSid = "S-1-5-21-1-2-3-1104";
constexpr const char* kTop = "\\\\srv\\home$\\jdoe";

// Folders as nodes; an entry names the node it leads to, so that a node can
// be reached under several names and from below itself, as links and
// junctions on a real server make it. Listing a path follows every entry on
// the way, as a server does.
class FakeShare : public FileServer {
 public:
  struct Link {
    std::string name;
    std::string node;  // "" for a file
    bool reparse = false;
  };
  struct Node {
    std::uint64_t id = 0;
    std::string parent;  // the node its ".." names; "" for none
    std::vector<Link> links;
  };

  bool isFolder(const std::string&) override { throw std::logic_error("asked by the walk"); }
  bool createFolder(const std::string&, const std::string&) override {
    throw std::logic_error("asked by the walk");
  }
  bool createdJustNow(const std::string& folder) const override { return fresh && folder == kTop; }
  bool createdGrantingTo(const std::string& folder, const std::string& sid) const override {
    return createdJustNow(folder) && sid == grantedAtCreation;
  }
  std::vector<std::string> grantees(const std::string&) override {
    throw std::logic_error("asked by the walk");
  }

  Listing list(const std::string& path) override {
    if (++lists > 100'000) throw std::logic_error("the walk does not end");
    const std::string name = resolve(path);
    if (refusedLists.count(name)) throw FileError(EACCES, "list " + path + ": denied");
    const Node& node = nodes.at(name);
    Listing listing{node.id, node.parent.empty() ? 0 : nodes.at(node.parent).id, {}};
    for (const Link& link : node.links) {
      listing.entries.push_back({link.name, !link.node.empty(), link.reparse});
    }
    return listing;
  }

  void setFullControl(const std::string& path, const std::string& sid, bool folder) override {
    below(path);  // nothing a path cannot carry is sent
    if (refusedSets.count(path)) throw FileError(EACCES, "set " + path + ": denied");
    set[path].push_back(std::string(folder ? "folder " : "file ") + sid);
  }

  // A chain of `depth` folders below `from`, each with a file.
  void chain(const std::string& from, int depth) {
    std::string above = from;
    for (int level = 1; level <= depth; ++level) {
      const std::string node = from + "/" + std::to_string(level);
      nodes[node] = {nextId++, above, {{"f.txt", ""}}};
      nodes[above].links.push_back({"d" + std::to_string(level), node});
      above = node;
    }
  }

  std::map<std::string, Node> nodes{{"root", {1, "", {{"jdoe", "home"}}}},
                                    {"home", {2, "root", {}}}};
  std::map<std::string, std::vector<std::string>> set;  // path -> what each grant was
  std::set<std::string> refusedLists;                   // nodes
  std::set<std::string> refusedSets;                    // paths
  bool fresh = false;
  std::string grantedAtCreation;  // the SID a fresh folder was made for, if any
  int lists = 0;
  std::uint64_t nextId = 100;

 private:
  static std::vector<std::string> below(const std::string& path) {
    if (path.rfind(kTop, 0) != 0) throw std::logic_error("outside the home folder: " + path);
    std::vector<std::string> names;
    std::istringstream rest(path.substr(std::string(kTop).size()));
    for (std::string name; std::getline(rest, name, '\\');) {
      if (!names.empty() || !name.empty()) names.push_back(name);
    }
    for (const auto& name : names) {
      if (!pathElementProblem(name).empty()) throw std::logic_error("sent: " + path);
    }
    return names;
  }

  std::string resolve(const std::string& path) const {
    std::string node = "home";
    for (const std::string& name : below(path)) {
      const auto& links = nodes.at(node).links;
      const auto link =
          std::find_if(links.begin(), links.end(), [&](const Link& l) { return l.name == name; });
      if (link == links.end() || link->node.empty()) {
        throw FileError(ENOENT, "list " + path + ": no such folder");
      }
      node = link->node;
    }
    return node;
  }
};

class GrantWalk : public ::testing::Test {
 protected:
  GrantResult grant() { return FullControlGrant(share).grantFullControl(kTop, kSid); }
  static std::string path(const std::string& below) {
    return std::string(kTop) + (below.empty() ? "" : "\\" + below);
  }
  // Every path set, and how often.
  std::map<std::string, std::size_t> counts() const {
    std::map<std::string, std::size_t> result;
    for (const auto& [where, grants] : share->set) result[where] = grants.size();
    return result;
  }

  std::shared_ptr<FakeShare> share = std::make_shared<FakeShare>();
};

TEST_F(GrantWalk, SetsTheFolderAndEverythingBelowOnceWithInheritanceOnFoldersOnly) {
  share->chain("home", 2);
  share->nodes["home"].links.push_back({"notes.txt", ""});
  EXPECT_EQ(grant().exitCode, 0);
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{path(""), 1},
                                                          {path("d1"), 1},
                                                          {path("d1\\f.txt"), 1},
                                                          {path("d1\\d2"), 1},
                                                          {path("d1\\d2\\f.txt"), 1},
                                                          {path("notes.txt"), 1}}));
  EXPECT_EQ(share->set[path("d1\\d2")][0], std::string("folder ") + kSid);
  EXPECT_EQ(share->set[path("notes.txt")][0], std::string("file ") + kSid);
}

// A folder just created is empty: only itself is set, and nothing at all
// when it was created with the account's access list already.
TEST_F(GrantWalk, FolderJustCreatedIsNotListed) {
  share->fresh = true;
  share->chain("home", 3);
  EXPECT_EQ(grant().exitCode, 0);
  EXPECT_EQ(share->lists, 0);
  EXPECT_THAT(share->set, SizeIs(1));
  share->set.clear();
  share->grantedAtCreation = kSid;
  EXPECT_EQ(grant().exitCode, 0);
  EXPECT_EQ(share->lists, 0);
  EXPECT_THAT(share->set, SizeIs(0));
}

// A junction to the share's root and a link to a file, as reparse points; a
// link that the server follows without saying so, to a folder above (a loop)
// or to one elsewhere (its ".." is not the folder listing it).
TEST_F(GrantWalk, JunctionsAndLinksAreNeitherChangedNorEnteredAndNamedOncePerFolder) {
  share->chain("home", 2);
  share->nodes["root"].links.push_back({"bob", "bob"});
  share->nodes["bob"] = {3, "root", {{"secret.txt", ""}}};
  share->nodes["home"].links.push_back({"up", "root", true});
  share->nodes["home"].links.push_back({"notes.lnk", "", true});
  share->nodes["home/1"].links.push_back({"back", "home"});
  share->nodes["home/1"].links.push_back({"self", "home/1"});
  share->nodes["home/2"].links.push_back({"other", "bob"});
  // A server that gives a folder's own ID for ".." tells nothing: entered.
  share->nodes["home/2"].links.push_back({"plain", "plain"});
  share->nodes["plain"] = {4, "plain", {{"kept.txt", ""}}};

  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, ELOOP);
  // Depth first: d2's first; one note for each of the three folders.
  EXPECT_EQ(result.reason, path("d1\\d2") +
                               ": junctions and links are not followed; left unchanged: other "
                               "(and 2 more below " +
                               kTop + ")");
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{path(""), 1},
                                                          {path("d1"), 1},
                                                          {path("d1\\f.txt"), 1},
                                                          {path("d1\\d2"), 1},
                                                          {path("d1\\d2\\f.txt"), 1},
                                                          {path("d1\\d2\\plain"), 1},
                                                          {path("d1\\d2\\plain\\kept.txt"), 1}}));
}

TEST_F(GrantWalk, LoopWithoutFileIdsEndsAtTheDepthLimit) {
  // A server that gives no IDs: a folder listing itself looks like an endless chain.
  share->nodes["home"] = {0, "", {{"again", "home"}, {"file.txt", ""}}};
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, ELOOP);
  EXPECT_THAT(result.reason, HasSubstr("more than 64 folder levels below \\\\srv\\home$\\jdoe"));
  EXPECT_EQ(share->lists, kMaxFolderDepth + 1);  // the last one to look at, not to enter
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
  for (int level = 2; level <= kMaxFolderDepth; ++level) deepest += "\\d" + std::to_string(level);
  EXPECT_EQ(counts()[path(deepest)], 1u);
  EXPECT_EQ(counts().count(path(deepest + "\\f.txt")), 0u);
  EXPECT_EQ(counts()[path(deepest.substr(0, deepest.rfind('\\')) + "\\f.txt")], 1u);
  EXPECT_EQ(counts()[path("d1\\d1\\d2\\f.txt")], 1u);
  EXPECT_EQ(counts()[path("top.txt")], 1u);
  EXPECT_THAT(result.reason, Not(HasSubstr("more below")));  // one limit, reported once
}

TEST_F(GrantWalk, NamesThatDifferOnlyInCaseAreSetOnceAndReported) {
  share->nodes["home"].links = {{"Sub", ""}, {"sub", ""}, {"same", ""}, {"same", ""}};
  const GrantResult result = grant();
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{
                          {path(""), 1}, {path("Sub"), 1}, {path("same"), 1}}));
  // Listed twice under one name: done once, nothing to report.
  EXPECT_EQ(result.exitCode, EEXIST);
  EXPECT_THAT(result.reason, HasSubstr("\\\\srv\\home$\\jdoe\\sub: left unchanged"));
  EXPECT_THAT(result.reason, Not(HasSubstr("more below")));
}

TEST_F(GrantWalk, NamesNoPathCanCarryAreReportedNotSent) {
  share->nodes["home"].links = {
      {std::string("vic\0tim", 7), ""}, {"a\x1b", ""}, {"x\\y", ""}, {"..", "root"}, {"ok", ""}};
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, EINVAL);
  EXPECT_THAT(result.reason,
              HasSubstr("\"vic\xE2\x90\x80tim\" holds a control character (U+0000)"));
  EXPECT_THAT(result.reason, HasSubstr("(and 3 more below \\\\srv\\home$\\jdoe)"));
  EXPECT_EQ(counts(), (std::map<std::string, std::size_t>{{path(""), 1}, {path("ok"), 1}}));
}

TEST_F(GrantWalk, FailuresBelowAreCountedAndTheRestIsStillDone) {
  share->chain("home", 3);
  share->chain("home/1", 1);
  share->refusedLists.insert("home/2");
  share->refusedSets.insert(path("d1\\f.txt"));
  const GrantResult result = grant();
  EXPECT_EQ(result.exitCode, EACCES);
  EXPECT_THAT(result.reason, HasSubstr("(and 1 more below \\\\srv\\home$\\jdoe)"));
  EXPECT_EQ(counts()[path("d1\\d1\\f.txt")], 1u);
  // What could not be looked into is not changed.
  EXPECT_EQ(counts().count(path("d1\\d2")), 0u);
  EXPECT_EQ(counts().count(path("d1\\d2\\d3")), 0u);
}

}  // namespace
}  // namespace kestrine
