#include "ui/qt/form1.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>

#include "ui/qt/dir_list_box.h"
#include "ui/qt/drive_list_box.h"
#include "ui/qt/file_list_box.h"
#include "ui/qt/picture_button.h"
#include "ui/qt/program_end.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {

namespace {

template <typename Control>
Control* place(Control* control, const char* name) {
  applyDescription(control, controlOf(kForm1, name));
  return control;
}

}  // namespace

Form1::Form1(std::function<void()> importRun, const QString& startDirectory)
    : PictureWindow(kForm1), importRun_(std::move(importRun)) {
  lblCreateUsers_ = makeLabel(this, controlOf(kForm1, "lblCreateUsers"));
  lblSelectCSV_ = makeLabel(this, controlOf(kForm1, "lblSelectCSV"));
  drvTest_ = place(new DriveListBox(this), "drvTest");
  dirTest_ = place(new DirListBox(this), "dirTest");
  filTest_ = place(new FileListBox(this), "filTest");
  filTest_->setPattern(QString::fromLatin1(controlOf(kForm1, "filTest").pattern));
  FilePath_ = place(new QLineEdit(this), "FilePath");
  Command1_ = new PictureButton(this, controlOf(kForm1, "Command1"));
  Command2_ = new PictureButton(this, controlOf(kForm1, "Command2"));

  // In the order of the tab indexes.
  const auto order = tabOrder(kForm1);
  for (std::size_t i = 1; i < order.size(); ++i) {
    setTabOrder(findChild<QWidget*>(QString::fromLatin1(order[i - 1]->name)),
                findChild<QWidget*>(QString::fromLatin1(order[i]->name)));
  }
  findChild<QWidget*>(QString::fromLatin1(order.front()->name))->setFocus();

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
