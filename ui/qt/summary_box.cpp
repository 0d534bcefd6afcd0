#include "ui/qt/summary_box.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "run/import_run.h"
#include "ui/qt/window_conventions.h"
#include "ui/window_description.h"

namespace kestrine {

namespace {

// What a window manager's title bar may take, before the box is shown and
// its frame is known.
constexpr int kTitleBar = 40;

QString fromUtf8(const char* text) {
  return QString::fromUtf8(text);
}

QPushButton* addButton(QHBoxLayout* row, const char* text, QWidget* box) {
  auto* button = new QPushButton(fromUtf8(text), box);
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

}  // namespace

SummaryBox::SummaryBox(const RunSummary& summary, QWidget* owner)
    : QDialog(owner), summary_(summary) {
  setObjectName(QStringLiteral("SummaryBox"));
  setWindowTitle(fromUtf8(kApplicationTitle));
  const int margin = kSummaryBox.margin;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(margin, margin, margin, margin);
  layout->setSpacing(margin);
  // The box is always as large as what it shows, however that changes.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  text_ = new QLabel(QString::fromStdString(summary.text), this);
  text_->setTextFormat(Qt::PlainText);
  text_->setWordWrap(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setMaximumWidth(fontMetrics().averageCharWidth() * kSummaryBox.textColumns);
  layout->addWidget(text_);

  auto* row = new QHBoxLayout;
  detailsButton_ = addButton(row, kSummaryBox.showDetails, this);
  connect(detailsButton_, &QPushButton::clicked, this, &SummaryBox::toggleDetails);
  if (summary.savable > 0) {
    saveButton_ = addButton(row, kSummaryBox.save, this);
    connect(saveButton_, &QPushButton::clicked, this, &SummaryBox::saveFailedRecords);
  }
  row->addStretch();
  okButton_ = addButton(row, kSummaryBox.ok, this);
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  layout->addLayout(row);

  details_ = new QPlainTextEdit(this);
  details_->setObjectName(QStringLiteral("details"));
  details_->setReadOnly(true);
  details_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  details_->setTabChangesFocus(true);
  details_->setPlainText(QString::fromStdString(summary.details));
  details_->hide();
  layout->addWidget(details_);
  okButton_->setFocus();

  // However many and long its first lines, the box fits the screen with a
  // few lines of details below them: what is cut off is in the details.
  const int rest = 4 * margin + okButton_->sizeHint().height() + kTitleBar +
                   4 * details_->fontMetrics().lineSpacing();
  text_->setMaximumHeight(std::max(screen()->availableGeometry().height() - rest, 0));
}

void SummaryBox::toggleDetails() {
  const bool open = !details_->isVisible();
  if (open) sizeDetails();
  details_->setVisible(open);
  detailsButton_->setText(fromUtf8(open ? kSummaryBox.hideDetails : kSummaryBox.showDetails));
  if (open) details_->setFocus();
  layout()->activate();
  keepOnScreen();
}

void SummaryBox::sizeDetails() {
  const QRect screen = this->screen()->availableGeometry();
  const QFontMetrics metrics(details_->font());
  const int frame =
      2 * details_->frameWidth() + 2 * static_cast<int>(details_->document()->documentMargin());
  const int scrollBar = details_->verticalScrollBar()->sizeHint().width();
  // What the box needs besides the details: its frame, the first lines, the
  // buttons, and the title bar a window manager adds.
  const int titleBar = std::max(frameGeometry().height() - geometry().height(), kTitleBar);
  const int rest = sizeHint().height() + kSummaryBox.margin + titleBar;
  const int width =
      std::min(metrics.averageCharWidth() * kSummaryBox.detailsColumns + frame + scrollBar,
               screen.width() - 2 * kSummaryBox.margin - 20);
  const int height =
      std::min(metrics.lineSpacing() * kSummaryBox.detailsLines + frame, screen.height() - rest);
  details_->setFixedSize(width, std::max(height, 3 * metrics.lineSpacing() + frame));
}

// Opened details grow the box downwards; it moves up as far as the screen
// needs, so that none of it is off the screen.
void SummaryBox::keepOnScreen() {
  if (!isVisible()) return;
  const QRect screen = this->screen()->availableGeometry();
  const QRect frame = frameGeometry();
  QPoint place = frame.topLeft();
  if (frame.bottom() > screen.bottom()) place.ry() -= frame.bottom() - screen.bottom();
  if (frame.right() > screen.right()) place.rx() -= frame.right() - screen.right();
  place.setX(std::max(place.x(), screen.left()));
  place.setY(std::max(place.y(), screen.top()));
  if (place != frame.topLeft()) move(place);
}

void SummaryBox::saveFailedRecords() {
  const QString suggested = QFileInfo(QString::fromStdString(summary_.savePath)).absoluteFilePath();
  const QString filter = fromUtf8(kSummaryBox.saveFilter) + QStringLiteral(" (") +
                         fromUtf8(kSummaryBox.savePattern) + QStringLiteral(")");
  // Qt's dialog asks before it replaces a file.
  const QString path =
      QFileDialog::getSaveFileName(this, fromUtf8(kSummaryBox.saveTitle), suggested, filter);
  if (path.isEmpty()) return;
  const std::string problem = summary_.save(path.toStdString());
  if (!problem.empty()) return showMessageBox(this, problem, "");
  okButton_->setFocus();  // saved: what is left is to close the box
}

}  // namespace kestrine
