// kestrine.exe: the main window; its Import button runs the import.
#include <windows.h>

#include "app/platform_services.h"
#include "platform/threads/call_thread.h"
#include "ui/win32/desktop_pump.h"
#include "ui/win32/form1.h"
#include "ui/win32/forms.h"
#include "ui/win32/program_end.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  kestrine::win32::loadDllsFromSystemOnly();
  // A drive without a medium fails its listing instead of asking to insert one.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The libraries' calls wait on a helper thread while the windows answer.
  kestrine::CallThread calls(kestrine::win32::answerDesktop);
  kestrine::PlatformServices services(calls);
  kestrine::win32::Forms forms(services.directory, services.serviceObjects);
  calls.tellWaitsTo([&forms](const std::string& text) { forms.view().showNotice(text); });
  // Form1 has run its load handling by the time it exists; it opens centred
  // with the focus in FilePath.
  forms.form1().show();
  kestrine::win32::endProcess(kestrine::win32::runMessageLoop());
}
