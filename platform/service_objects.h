#pragma once

#include <memory>

#include "platform/file_system.h"
#include "platform/shell.h"

namespace kestrine {

// Creates the platform objects that a run keeps for its whole length.
class ServiceObjects {
 public:
  virtual ~ServiceObjects() = default;
  virtual std::shared_ptr<Shell> createShell() = 0;
  virtual std::shared_ptr<FileSystem> createFileSystem() = 0;
};

}  // namespace kestrine
