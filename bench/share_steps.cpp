// share-steps SERVER SHARE-BASE PREFIX COUNT: the home folder step alone, over
// the real share, for the accounts PREFIX0 ... PREFIX<COUNT-1>, which exist in
// the directory and have no home folder yet. Prints the time per record.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/silent_view.h"
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
#include "provision/provisioning.h"

int main(int argc, char** argv) {
  using namespace kestrine;
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SERVER SHARE-BASE PREFIX COUNT\n", argv[0]);
    return 2;
  }
  const int count = std::stoi(argv[4]);
  LdapDirectory directory;
  HostServiceObjects services;
  SilentView view("");
  RunState state;
  Provisioning provisioning(state, directory, view);
  state.shell = services.createShell();
  state.fileSystem = services.createFileSystem();
  state.fileServer = argv[1];
  state.shareBase = argv[2];

  // Where the import made these accounts: the step reads each one's SID there.
  std::vector<std::string> paths;
  directory.Bind("LDAP://rootDSE");
  for (int i = 0; i < count; ++i) {
    paths.push_back("LDAP://" + directory.accountDn(argv[3] + std::to_string(i)));
  }

  int failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    state.accountName = argv[3] + std::to_string(i);
    state.record = {};
    state.record.account = AccountOrigin::kCreated;
    state.record.accountPath = paths[static_cast<std::size_t>(i)];
    provisioning.CreateFolders();
    if (!state.record.folderPresent || !state.record.permissionsSet) ++failed;
  }
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("share_ms_per_record=%.2f records=%d failed=%d\n", elapsed.count() / count, count,
              failed);
  return failed == 0 ? 0 : 1;
}
