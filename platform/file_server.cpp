#include "platform/file_server.h"

#include <cerrno>
#include <cstddef>

#include "platform/file_system.h"

namespace kestrine {

void requireListedObject(const std::string& path, const OpenedObject& opened,
                         std::uint64_t listedId) {
  if (leadsElsewhere(opened.isReparsePoint, opened.reparseTag)) {
    throw FileError(ELOOP, path + ": a junction or link; left unchanged");
  }
  if (knownFileId(listedId) && knownFileId(opened.id) && opened.id != listedId) {
    throw FileError(ELOOP, path +
                               ": another object than the one listed under that name (put in "
                               "its place since); left unchanged");
  }
}

std::vector<FileServer::Granted> FileServer::setFullControlAll(const std::vector<Target>& targets,
                                                               const ListingCheck& accept) {
  std::vector<Granted> outcomes(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    Granted& outcome = outcomes[i];
    try {
      if (targets[i].listFirst) {
        outcome.listing = list(targets[i].path);
        if (!accept(i, *outcome.listing)) continue;
      }
      setFullControl(targets[i].path, targets[i].grant);
      outcome.set = true;
    } catch (const PlatformError& e) {
      outcome.error = e;
    }
  }
  return outcomes;
}

}  // namespace kestrine
