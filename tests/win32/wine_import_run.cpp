// wine_import_run CSV-FILE SERVER USER PASSWORD-FILE [TIMEOUT-SECONDS]: the
// import run with the Windows directory, files and permissions, its windows
// printed as text. The directory is reached over LDAPS with a simple bind, as
// under Wine no Negotiate bind is to be had; everything else is the program's
// own, with the program's 30 s wait for the server unless told otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include <windows.h>

#include "app/console_view.h"
#include "platform/win32/win32_directory.h"
#include "platform/win32/win32_services.h"
#include "run/import_run.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s CSV-FILE SERVER USER PASSWORD-FILE [TIMEOUT-SECONDS]\n",
                 argv[0]);
    return 2;
  }
  std::string password;
  std::ifstream passwordFile(argv[4]);
  if (!std::getline(passwordFile, password)) {
    std::fprintf(stderr, "cannot read the password from %s\n", argv[4]);
    return 2;
  }
  kestrine::ConsoleView view(argv[1], stdout);
  auto bind = kestrine::WldapBind::simpleOverTls(argv[2], argv[3], password);
  // What the run reads of an object, and no more: Wine's LDAP library hangs
  // on larger answers over TLS.
  bind.readAttributes = {"objectClass", "defaultNamingContext", "sAMAccountName",
                         "userAccountControl", "objectSid"};
  kestrine::ConnectionSettings settings;
  if (argc == 6) settings.timeout = std::chrono::seconds(std::atoi(argv[5]));
  kestrine::Win32Directory directory(std::move(bind), settings);
  kestrine::Win32ServiceObjects services;
  kestrine::ImportRun run(view, directory, services);
  run.run();
  std::fflush(stdout);
  // Ended as the program ends (endProcess): a bind given up on may still
  // hold its thread inside wldap32, which the exit handlers would race.
  TerminateProcess(GetCurrentProcess(), run.report().failedCount() == 0 ? 0 : 1);
  return 1;
}
