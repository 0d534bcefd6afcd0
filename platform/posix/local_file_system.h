#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"

namespace kestrine {

// Files on the local file system, read as text in the locale's character set.
class LocalFileSystem : public FileSystem {
 public:
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
};

// Creates the platform objects of a run on this machine.
class LocalServiceObjects : public ServiceObjects {
 public:
  std::shared_ptr<FileSystem> createFileSystem() override;
};

}  // namespace kestrine
