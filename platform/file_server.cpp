#include "platform/file_server.h"

#include <cerrno>

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

}  // namespace kestrine
