#pragma once

#include <QDialog>

#include "run/run_view.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kestrine {

// The run's summary box as the description has it (kSummaryBox).
class SummaryBox : public QDialog {
  Q_OBJECT

 public:
  SummaryBox(const RunSummary& summary, QWidget* owner);

  QLabel* text() const { return text_; }
  QPlainTextEdit* details() const { return details_; }
  QPushButton* detailsButton() const { return detailsButton_; }
  QPushButton* saveButton() const { return saveButton_; }  // none when nothing is to save
  QPushButton* okButton() const { return okButton_; }

 private:
  void toggleDetails();
  // The details at their described size, or as much as the screen leaves.
  void sizeDetails();
  void keepOnScreen();
  void saveFailedRecords();

  const RunSummary& summary_;
  QLabel* text_;
  QPlainTextEdit* details_;
  QPushButton* detailsButton_;
  QPushButton* saveButton_ = nullptr;
  QPushButton* okButton_;
};

}  // namespace kestrine
