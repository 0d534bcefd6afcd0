#include "ui/form1.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>

#include "ui/dir_list_box.h"
#include "ui/drive_list_box.h"
#include "ui/file_list_box.h"
#include "ui/picture_button.h"
#include "ui/program_end.h"
#include "ui/window_conventions.h"

namespace kestrine {

namespace {

const QColor kListText(64, 64, 64);

template <typename Control>
Control* place(Control* control, const QString& name, const QRect& where, const QFont& font) {
  control->setObjectName(name);
  control->setGeometry(where);
  control->setFont(font);
  setTextColour(control, kListText);
  return control;
}

}  // namespace

Form1::Form1(std::function<void()> importRun, const QString& startDirectory)
    : PictureWindow(QStringLiteral("Form1"), QStringLiteral("Kestrine"), twipsSize(6645, 4800),
                    QStringLiteral("form1.png"), Taskbar::Hidden),
      importRun_(std::move(importRun)) {
  setWindowIcon(applicationIcon());

  lblCreateUsers_ =
      makeLabel(this, QStringLiteral("lblCreateUsers"), QStringLiteral("Create Users"),
                twipsRect(120, 30, 3375, 255), verdanaFont(9, true), Qt::AlignLeft);
  lblCreateUsers_->setForegroundRole(QPalette::HighlightedText);
  lblSelectCSV_ =
      makeLabel(this, QStringLiteral("lblSelectCSV"),
                QStringLiteral("Please select the CSV that contains the required info."),
                twipsRect(120, 480, 6375, 255), verdanaFont(8.25, false), Qt::AlignLeft);
  lblSelectCSV_->setForegroundRole(QPalette::HighlightedText);

  drvTest_ = place(new DriveListBox(this), QStringLiteral("drvTest"),
                   twipsRect(120, 840, 3015, 315), verdanaFont(8.25, false));
  dirTest_ = place(new DirListBox(this), QStringLiteral("dirTest"),
                   twipsRect(120, 1320, 3015, 2340), verdanaFont(8.25, false));
  filTest_ = place(new FileListBox(this), QStringLiteral("filTest"),
                   twipsRect(3240, 1320, 3135, 2235), verdanaFont(8.25, false));
  filTest_->setPattern(QStringLiteral("*.csv"));
  FilePath_ = place(new QLineEdit(this), QStringLiteral("FilePath"),
                    twipsRect(120, 3900, 6255, 315), verdanaFont(9, false));
  Command1_ = new PictureButton(this, QStringLiteral("Command1"), QStringLiteral("import.png"),
                                QStringLiteral("Import"), twipsRect(120, 4320, 875, 315));
  Command2_ = new PictureButton(this, QStringLiteral("Command2"), QStringLiteral("cancel.png"),
                                QStringLiteral("Cancel"), twipsRect(5640, 4320, 875, 315));

  // Tab indexes 0 to 6; the labels (5 and 7) take no focus.
  setTabOrder(FilePath_, Command2_);
  setTabOrder(Command2_, drvTest_);
  setTabOrder(drvTest_, dirTest_);
  setTabOrder(dirTest_, filTest_);
  setTabOrder(filTest_, Command1_);
  FilePath_->setFocus();

  // Direct connections: a Change is handled within the assignment that raised it.
  connect(dirTest_, &DirListBox::Change, this, &Form1::dirTestChange, Qt::DirectConnection);
  connect(drvTest_, &DriveListBox::Change, this, &Form1::drvTestChange, Qt::DirectConnection);
  connect(filTest_, &FileListBox::Click, this, &Form1::filTestClick, Qt::DirectConnection);
  connect(Command1_, &QAbstractButton::clicked, this, &Form1::command1Click);
  connect(Command2_, &QAbstractButton::clicked, this, &Form1::command2Click);

  formLoad(startDirectory);
}

void Form1::formLoad(const QString& startDirectory) {
  dirTest_->setPath(startDirectory);
}

void Form1::dirTestChange() {
  filTest_->setPath(dirTest_->Path());
}

void Form1::drvTestChange() {
  dirTest_->setPath(drvTest_->Drive());
  filTest_->setPath(drvTest_->Drive());
}

void Form1::filTestClick() {
  // Joined as they are: at the root this gives "//users.csv".
  FilePath_->setText(filTest_->Path() + QDir::separator() + filTest_->FileName());
}

void Form1::command1Click() {
  importRun_();
}

void Form1::command2Click() {
  endProgram();
}

}  // namespace kestrine
