// kestrine-console CSV-FILE: the import run with its windows printed as text.
#include <csignal>
#include <cstdio>

#include "app/console_view.h"
#include "platform/linux/host_services.h"
#include "platform/linux/ldap/ldap_directory.h"
#include "run/import_run.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CSV-FILE\n", argv[0]);
    return 2;
  }
  // As the program does: a reset connection fails a write, nothing more.
  std::signal(SIGPIPE, SIG_IGN);
  kestrine::ConsoleView view(argv[1], stdout);
  kestrine::LdapDirectory directory;
  kestrine::HostServiceObjects services;
  kestrine::ImportRun run(view, directory, services);
  run.run();
  return run.report().failedCount() == 0 ? 0 : 1;
}
