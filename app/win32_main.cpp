// kestrine.exe: the main window; its Import button runs the import.
#include <windows.h>

#include "app/platform_services.h"
#include "ui/win32/form1.h"
#include "ui/win32/forms.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A drive without a medium fails its listing instead of asking to insert one.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  kestrine::PlatformServices services;
  kestrine::win32::Forms forms(services.directory, services.serviceObjects);
  // Form1 has run its load handling by the time it exists; it opens centred
  // with the focus in FilePath.
  forms.form1().show();
  return kestrine::win32::runMessageLoop();
}
