// The grant's walk below a home folder over a share held in memory: trees that
// loop, junctions and links, names that collide, chains deeper than any home
// folder.
#include "platform/grant/full_control_grant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
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
    std::uint32_t tag = 0;
    std::uint64_t id = 0;        // a file's
    std::uint64_t listedId = 0;  // what the listing says instead, if not 0
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
    log.push_back("list " + path);
    const std::string name = resolve(path);
    if (refusedLists.count(name)) throw FileError(EACCES, "list " + path + ": denied");
    const Node& node = nodes.at(name);
    Listing listing{node.id, node.parent.empty() ? 0 : nodes.at(node.parent).id, {}};
    for (const Link& link : node.links) {
      const std::uint64_t id = link.node.empty() ? link.id : nodes.at(link.node).id;
      listing.entries.push_back({link.name, !link.node.empty(), link.reparse, link.tag,
                                 link.listedId != 0 ? link.listedId : id});
    }
    return listing;
  }

  // Checked as an implementation checks its handle, with the shared rule.
  void setFullControl(const std::string& path, const FullControl& grant) override {
    below(path);  // nothing a path cannot carry is sent
    log.push_back("set " + path);
    if (refusedSets.count(path)) throw FileError(EACCES, "set " + path + ": denied");
    requireListedObject(path, opened(path), grant.listedId);
    set[path].push_back(std::string(grant.folder ? "folder " : "file ") + grant.accountSid +
                        (grant.administratorsOwn ? " owned" : ""));
  }

  // The objects of each batch, by path.
  std::vector<Granted> setFullControlAll(const std::vector<Target>& targets,
                                         const ListingCheck& accept) override {
    batches.emplace_back();
    for (const Target& target : targets) batches.back().push_back(target.path);
    return FileServer::setFullControlAll(targets, accept);
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
  std::set<std::string> replacedAtSet;  // paths whose object changes after their listing
  std::uint32_t topTag = 0;             // the home folder's own reparse tag
  bool fresh = false;
  std::string grantedAtCreation;  // the SID a fresh folder was made for, if any
  int lists = 0;
  std::uint64_t nextId = 100;
  std::vector<std::string> log;                   // "list <path>", "set <path>"
  std::vector<std::vector<std::string>> batches;  // the paths of each

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

  // What a handle opened on the path itself finds.
  OpenedObject opened(const std::string& path) const {
    const auto names = below(path);
    if (names.empty()) return {nodes.at("home").id, topTag != 0, topTag};
    const std::string above = path.substr(0, path.rfind('\\'));
    const auto& links = nodes.at(resolve(above)).links;
    const auto link = std::find_if(links.begin(), links.end(),
                                   [&](const Link& l) { return l.name == names.back(); });
    if (link == links.end()) throw FileError(ENOENT, "set " + path + ": no such object");
    const std::uint64_t id = replacedAtSet.count(path) ? 999
                             : link->node.empty()      ? link->id
                                                       : nodes.at(link->node).id;
    return {id, link->reparse, link->tag};
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
  GrantResult grant() { return FullControlGrant(share).grantFullControl(kTop, kSid, false); }
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

// One batch per folder entered, without its links, each subfolder listed
// before it is set.
TEST_F(GrantWalk, OneBatchPerFolderEachSubfolderListedBeforeItIsSet) {
  share->chain("home", 2);
  share->nodes["home"].links.push_back({"up", "root", true, 0xA0000003});
  share->nodes["home"].links.push_back({"a.txt", "", false, 0, 61});
  grant();
  ASSERT_THAT(share->batches, SizeIs(3));  // the home folder's, d1's and d2's
  EXPECT_EQ(share->batches[0], (std::vector<std::string>{path("d1"), path("a.txt")}));
  const auto at = [&](const std::string& line) {
    return std::find(share->log.begin(), share->log.end(), line) - share->log.begin();
  };
  for (const char* folder : {"d1", "d1\\d2"}) {
    EXPECT_LT(at("list " + path(folder)), at("set " + path(folder))) << folder;
  }
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

// What the server tells of each object: file IDs it does not know, reparse
// tags, the home folder itself; and entries put in another's place between
// their folder's listing and their grant.
TEST_F(GrantWalk, ReparseTagsFileIdsAndReplacedEntries) {
  constexpr std::uint32_t kJunction = 0xA0000003;
  constexpr std::uint32_t kSymbolicLink = 0xA000000C;
  constexpr std::uint32_t kDeduplicated = 0x80000013;
  constexpr std::uint32_t kCloud = 0x9000001A;
  const std::string kLinks = path("") + ": junctions and links are not followed; left unchanged: ";
  const std::string kReplaced =
      ": another object than the one listed under that name (put in its place since); left "
      "unchanged";
  struct Case {
    const char* what;
    std::function<void(FakeShare&)> arrange;
    std::set<std::string> granted;  // below the home folder; "" for itself
    std::string reason;             // of the first failure; "" for none
  };
  const auto ids = [](std::uint64_t id) {
    return [id](FakeShare& share) {
      share.chain("home", 2);
      for (auto& [name, node] : share.nodes) node.id = id;
    };
  };
  const std::set<std::string> chain = {"", "d1", "d1\\f.txt", "d1\\d2", "d1\\d2\\f.txt"};
  const Case cases[] = {
      {"file IDs of 0", ids(0), chain, ""},
      {"file IDs of ~0", ids(~std::uint64_t{0}), chain, ""},
      {"a junction and a symbolic link by their tags; deduplicated and cloud files are files",
       [&](FakeShare& share) {
         share.nodes["cloud"] = {7, "home", {{"c.txt", "", true, kCloud, 71}}};
         share.nodes["home"].links = {{"j", "root", true, kJunction},
                                      {"s.txt", "", true, kSymbolicLink, 60},
                                      {"big.iso", "", true, kDeduplicated, 61},
                                      {"cloud", "cloud", true, kCloud}};
       },
       {"", "big.iso", "cloud", "cloud\\c.txt"},
       kLinks + "j, s.txt"},
      {"a home folder that is a junction",
       [&](FakeShare& share) { share.topTag = kJunction; },
       {},
       path("") + ": a junction or link; left unchanged"},
      {"a file replaced at its grant",
       [&](FakeShare& share) {
         share.nodes["home"].links = {{"a.txt", "", false, 0, 60}, {"b.txt", "", false, 0, 61}};
         share.replacedAtSet.insert(path("a.txt"));
       },
       {"", "b.txt"},
       path("a.txt") + kReplaced},
      {"a folder replaced before it is listed",
       [&](FakeShare& share) {
         share.chain("home", 2);
         share.nodes["home"].links[0].listedId = 55;
       },
       {""},
       kLinks + "d1"},
      {"a folder replaced at its grant: nothing below it is touched",
       [&](FakeShare& share) {
         share.chain("home", 2);
         share.replacedAtSet.insert(path("d1"));
       },
       {""},
       path("d1") + kReplaced},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    share = std::make_shared<FakeShare>();
    c.arrange(*share);
    const GrantResult result = FullControlGrant(share).grantFullControl(kTop, kSid, true);
    std::set<std::string> granted;
    for (const auto& [where, grants] : share->set) {
      granted.insert(where.size() == path("").size() ? "" : where.substr(path("").size() + 1));
      EXPECT_THAT(grants, Each(::testing::EndsWith(" owned"))) << where;
    }
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(result.exitCode, c.reason.empty() ? 0 : ELOOP);
  }
}

}  // namespace
}  // namespace kestrine
