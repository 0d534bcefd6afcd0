#include "platform/grant/full_control_grant.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/text/path_names.h"
#include "platform/text/printable.h"

namespace kestrine {

namespace {

GrantResult failed(int code, std::string reason) {
  return {code != 0 ? code : EIO, std::move(reason)};
}

// The folders and files below one home folder, depth first: each is looked
// at before it is changed, so that a folder reached through a link is known
// as such before anything happens to it.
class Walk {
 public:
  Walk(FileServer& server, const std::string& sid, bool administratorsOwn, const std::string& top)
      : server_(server),
        sid_(sid),
        administratorsOwn_(administratorsOwn),
        top_(top),
        visited_{{foldedCase(top), top}} {}

  void enter(const std::string& path, const FileServer::Listing& listing, int depth);
  void note(const PlatformError& e) {
    if (failures_++ == 0) result_ = failed(e.code(), e.what());
  }
  GrantResult result() const {
    GrantResult result = result_;
    if (failures_ > 1) {
      result.reason += " (and " + std::to_string(failures_ - 1) + " more below " + top_ + ")";
    }
    return result;
  }

 private:
  bool firstVisit(const std::string& path);
  bool liesElsewhere(const FileServer::Entry& entry, const FileServer::Listing& inside,
                     const FileServer::Listing& parent) const;

  FileServer& server_;
  const std::string& sid_;
  const bool administratorsOwn_;
  const std::string& top_;
  // By path in lower case; the path as it was.
  std::unordered_map<std::string, std::string> visited_;
  std::vector<std::uint64_t> above_;  // IDs of the folders entered above the one in hand
  GrantResult result_;
  int failures_ = 0;
};

// One folder costs one batch: its entries set together, each subfolder's
// listing read with them and checked before that subfolder is set; then the
// subfolders are entered with their listings in hand.
void Walk::enter(const std::string& path, const FileServer::Listing& listing, int depth) {
  const bool known = knownFileId(listing.id);
  if (known) above_.push_back(listing.id);
  std::string links;  // the entries here that are junctions or links
  const auto link = [&](const std::string& name) { links += (links.empty() ? "" : ", ") + name; };
  std::vector<FileServer::Target> targets;
  std::vector<const FileServer::Entry*> entries;
  for (const FileServer::Entry& entry : listing.entries) {
    if (const std::string problem = pathElementProblem(entry.name); !problem.empty()) {
      note(FileError(EINVAL, path + ": the name \"" + printable(entry.name) + "\" " + problem));
      continue;
    }
    const std::string below = path + "\\" + entry.name;
    if (!firstVisit(below)) continue;
    if (entry.isLink()) {
      link(entry.name);
      continue;
    }
    targets.push_back(
        {below, {sid_, entry.isFolder, entry.id, administratorsOwn_}, entry.isFolder});
    entries.push_back(&entry);
  }
  // What cannot be looked into is neither changed nor entered, nor what lies
  // elsewhere.
  enum Check : char { kUnlisted, kInPlace, kElsewhere };
  std::vector<Check> checks(targets.size(), kUnlisted);
  std::vector<FileServer::Granted> outcomes =
      server_.setFullControlAll(targets, [&](std::size_t i, const FileServer::Listing& inside) {
        checks[i] = liesElsewhere(*entries[i], inside, listing) ? kElsewhere : kInPlace;
        return checks[i] == kInPlace;
      });
  std::vector<std::size_t> subfolders;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const FileServer::Granted& outcome = outcomes[i];
    if (checks[i] == kElsewhere) {
      link(entries[i]->name);
      continue;
    }
    if (outcome.error) {
      note(*outcome.error);
      // A junction or link, or another object than listed: not its own below.
      if (outcome.error->code() == ELOOP) continue;
    }
    if (checks[i] == kInPlace && outcome.listing) subfolders.push_back(i);
  }
  for (const std::size_t i : subfolders) {
    if (depth + 1 >= kMaxFolderDepth) {
      note(FileError(ELOOP, targets[i].path + ": what lies below was left unchanged: more than " +
                                std::to_string(kMaxFolderDepth) + " folder levels below " + top_));
      continue;
    }
    const FileServer::Listing inside = std::move(*outcomes[i].listing);
    enter(targets[i].path, inside, depth + 1);
  }
  // Once per folder, however many there are.
  if (!links.empty()) {
    note(FileError(ELOOP,
                   path + ": junctions and links are not followed; left unchanged: " + links));
  }
  if (known) above_.pop_back();
}

// A name listed twice is done once; a name differing only in case is one
// object to one server and two to another, so it is left alone and reported.
bool Walk::firstVisit(const std::string& path) {
  const auto [seen, added] = visited_.try_emplace(foldedCase(path), path);
  if (!added && seen->second != path) {
    note(FileError(EEXIST, path + ": left unchanged: another name in its folder differs from it "
                                  "only in case"));
  }
  return added;
}

// A folder that is not where its name puts it: one entered above it already
// (a loop), another than the one its folder listed under that name (put in
// its place since), or one whose own ".." is another folder than the one
// listing it. A server that gives no IDs, or the folder's own ID for "..",
// tells none of these.
bool Walk::liesElsewhere(const FileServer::Entry& entry, const FileServer::Listing& inside,
                         const FileServer::Listing& parent) const {
  if (knownFileId(inside.id)) {
    if (std::find(above_.begin(), above_.end(), inside.id) != above_.end()) return true;
    if (knownFileId(entry.id) && entry.id != inside.id) return true;
  }
  return knownFileId(inside.parentId) && knownFileId(parent.id) && inside.parentId != parent.id &&
         inside.parentId != inside.id;
}

}  // namespace

GrantResult FullControlGrant::grantFullControl(const std::string& folder, const std::string& sid,
                                               bool administratorsOwn) {
  // Made with this very access list a moment ago: nothing is left to set.
  if (server_->createdGrantingTo(folder, sid)) return {};
  const bool empty = server_->createdJustNow(folder);
  // A home folder that is itself a junction or link is refused here, by the
  // check on the set's own handle, and nothing below it is looked at.
  try {
    server_->setFullControl(folder, {sid, true, 0, administratorsOwn});
  } catch (const PlatformError& e) {
    return failed(e.code(), e.what());
  }
  if (empty) return {};

  Walk walk(*server_, sid, administratorsOwn, folder);
  try {
    walk.enter(folder, server_->list(folder), 0);
  } catch (const PlatformError& e) {
    walk.note(e);
  }
  return walk.result();
}

}  // namespace kestrine
