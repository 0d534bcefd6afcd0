#include "ui/qt/qt_run_view.h"

#include <QLabel>
#include <QLineEdit>

#include "run/import_run.h"
#include "ui/qt/complete.h"
#include "ui/qt/desktop_pump.h"
#include "ui/qt/form1.h"
#include "ui/qt/forms.h"
#include "ui/qt/loading.h"
#include "ui/qt/program_end.h"
#include "ui/qt/summary_box.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {

void QtRunView::hideForm1() {
  forms_.form1().hide();
}

std::string QtRunView::filePathText() {
  return forms_.form1().FilePath()->text().toStdString();
}

void QtRunView::showLoading() {
  Loading& loading = forms_.loading();
  showActivated(&loading);
  // The run keeps the event loop from painting; draw the designed text now.
  paintNow(&loading);
}

void QtRunView::hideLoading() {
  forms_.loading().hide();
}

void QtRunView::setLoadingText(const std::string& text) {
  forms_.loading().lblLoading()->setText(QString::fromStdString(text));
}

// The run holds the event loop: the label is drawn here and now, and then the
// desktop gets its answers.
void QtRunView::repaintLoading() {
  paintNow(forms_.loading().lblLoading());
  answerDesktop();
}

void QtRunView::showNotice(const std::string& text) {
  if (!text.empty()) {
    if (!progressText_) progressText_ = forms_.loading().lblLoading()->text().toStdString();
    setLoadingText(text);
  } else if (progressText_) {
    setLoadingText(*progressText_);
    progressText_.reset();
  }
  repaintLoading();
}

void QtRunView::setCompleteText(const std::string& text) {
  forms_.complete().lblComplete()->setText(QString::fromStdString(text));
}

void QtRunView::showComplete() {
  showActivated(&forms_.complete());
}

void QtRunView::messageBox(const std::string& prompt, int, const std::string& title) {
  showMessageBox(nullptr, prompt, title);
}

// In front of the progress window, which is shown while the run goes on.
void QtRunView::summaryBox(const RunSummary& summary) {
  Loading& loading = forms_.loading();
  SummaryBox box(summary, loading.isVisible() ? &loading : nullptr);
  box.exec();
}

void QtRunView::endProgram() {
  kestrine::endProgram();
}

}  // namespace kestrine
