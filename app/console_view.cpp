#include "app/console_view.h"

#include <cstdlib>

#include "run/import_run.h"

namespace kestrine {

void ConsoleView::repaintLoading() {
  std::fprintf(out_, "progress: %s\n", loadingText_.c_str());
}

void ConsoleView::showComplete() {
  std::fprintf(out_, "complete: %s\n", completeText_.c_str());
}

void ConsoleView::messageBox(const std::string& prompt, int, const std::string& title) {
  std::fprintf(out_, "message [%s]:\n%s\n", title.empty() ? kApplicationTitle : title.c_str(),
               prompt.c_str());
}

void ConsoleView::summaryBox(const RunSummary& summary) {
  messageBox(summary.details, 0, kApplicationTitle);
}

void ConsoleView::endProgram() {
  std::fflush(out_);
  std::exit(0);
}

}  // namespace kestrine
