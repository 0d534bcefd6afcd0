// kestrine: the main window; its Import button runs the import.
#include <QApplication>

#include <csignal>

#include "app/platform_services.h"
#include "platform/threads/call_thread.h"
#include "ui/qt/desktop_pump.h"
#include "ui/qt/form1.h"
#include "ui/qt/forms.h"
#include "ui/qt/window_conventions.h"

namespace {

// Form1 has run its load handling by the time it exists; it opens centred with
// the focus in FilePath. The icon is Form1's own: Loading keeps the platform's
// default one on its taskbar button.
void startUp(kestrine::Forms& forms) {
  // Only the program end ends the program, never the last window closing.
  QApplication::setQuitOnLastWindowClosed(false);
  kestrine::showActivated(&forms.form1());
}

}  // namespace

int main(int argc, char** argv) {
  // A write to a connection that the server has reset fails; it must not end
  // the process.
  std::signal(SIGPIPE, SIG_IGN);
  QApplication application(argc, argv);
  // The libraries' calls wait on a helper thread while the windows answer.
  kestrine::CallThread calls(kestrine::answerDesktop);
  kestrine::PlatformServices services(calls);
  kestrine::Forms forms(services.directory, services.serviceObjects);
  calls.tellWaitsTo([&forms](const std::string& text) { forms.view().showNotice(text); });
  startUp(forms);
  return QApplication::exec();
}
