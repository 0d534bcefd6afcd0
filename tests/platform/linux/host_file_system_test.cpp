#include "platform/linux/host_services.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace kestrine {
namespace {

// The file list writes //name for a file picked at the root.
TEST(HostFileSystem, PathsWithLeadingSlashesAreLocal) {
  HostFileSystem files(newFileServer());
  const std::string name = "kestrine-" + std::to_string(getpid()) + ".csv";
  if (!(std::ofstream("/" + name, std::ios::binary) << "jdoe,John\r\n")) {
    GTEST_SKIP() << "cannot create a file in /";
  }
  const struct Removed {
    std::string path;
    ~Removed() { std::filesystem::remove(path); }
  } atRoot{"/" + name};
  for (const std::string& path : {"//" + name, "///" + name}) {
    auto stream = files.OpenTextFile(path);
    EXPECT_EQ(stream->ReadLine(), "jdoe,John") << path;
    EXPECT_TRUE(stream->AtEndOfStream()) << path;
  }
}

TEST(HostFileSystem, NetworkPathsAreNotRead) {
  HostFileSystem files(newFileServer());
  EXPECT_THROW(files.OpenTextFile("\\\\server\\share\\users.csv"), FileError);
}

}  // namespace
}  // namespace kestrine
