// Form1's drive, directory and file lists and the path they write to FilePath.
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <memory>

#include "platform/linux/host_services.h"
#include "ui/qt/dir_list_box.h"
#include "ui/qt/drive_list_box.h"
#include "ui/qt/file_list_box.h"
#include "ui/qt/form1.h"

namespace kestrine {
namespace {

QStringList texts(const QListWidget* list) {
  QStringList shown;
  for (int row = 0; row < list->count(); ++row) shown << list->item(row)->text();
  return shown;
}

void touch(const QString& path) {
  if (!QFile(path).open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
}

// Outside the list when nothing is listed under `text`.
QPoint centreOf(const QListWidget* list, const QString& text) {
  const auto found = list->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? QPoint(-1, -1) : list->visualItemRect(found.front()).center();
}

void click(QListWidget* list, const QString& text) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, text));
}

// The events of a real double click; QTest's own sends the second half only.
void doubleClick(QListWidget* list, const QString& text) {
  const QPoint at = centreOf(list, text);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class FilePickerTest : public QObject {
  Q_OBJECT

 private:
  void showForm() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  }

  std::unique_ptr<QTemporaryDir> temp_;
  QString dir_;
  std::unique_ptr<Form1> form_;

 private slots:
  void init() {
    temp_ = std::make_unique<QTemporaryDir>();
    dir_ = temp_->path();
    QVERIFY(QDir(dir_).mkpath("sub/deeper") && QDir(dir_).mkpath("folder.csv"));
    for (const char* name :
         {"b.csv", "A.CSV", "notes.txt", "b.csv.bak", ".hidden.csv", "sub/in.csv"}) {
      touch(dir_ + "/" + name);
    }
    form_ = std::make_unique<Form1>([] {});
  }
  void cleanup() { form_.reset(); }

  void startsOnTheSystemRoot() {
    QCOMPARE(form_->dirTest()->Path(), QStringLiteral("/"));
    QCOMPARE(form_->filTest()->Path(), QStringLiteral("/"));
    QCOMPARE(form_->drvTest()->Drive(), QStringLiteral("/"));
    QCOMPARE(form_->dirTest()->item(0)->text(), QStringLiteral("/"));
    QVERIFY(form_->FilePath()->text().isEmpty());
  }

  void listsShowTheOpenChainSubdirectoriesAndCsvFilesOnly() {
    QVERIFY(form_->dirTest()->setPath(dir_));
    QCOMPARE(texts(form_->filTest()), QStringList({"A.CSV", "b.csv"}));
    QStringList chain = dir_.split(u'/', Qt::SkipEmptyParts);
    chain.prepend("/");
    QCOMPARE(texts(form_->dirTest()), chain + QStringList({"folder.csv", "sub"}));
    QCOMPARE(form_->dirTest()->currentRow(), chain.size() - 1);
  }

  void openingADirectoryRelistsTheFilesAndKeepsFilePath() {
    QVERIFY(form_->dirTest()->setPath(dir_));
    showForm();
    form_->FilePath()->setText("typed");
    doubleClick(form_->dirTest(), "sub");
    QCOMPARE(form_->dirTest()->Path(), dir_ + "/sub");
    QCOMPARE(texts(form_->filTest()), QStringList({"in.csv"}));
    // Enter on an ancestor opens it too.
    form_->dirTest()->setCurrentRow(0);
    QTest::keyClick(form_->dirTest(), Qt::Key_Return);
    QCOMPARE(form_->filTest()->Path(), QStringLiteral("/"));
    QCOMPARE(form_->FilePath()->text(), QStringLiteral("typed"));
  }

  void clickingAFileWritesDirectorySlashName() {
    QVERIFY(form_->dirTest()->setPath(dir_));
    showForm();
    // Focus arriving by Tab makes a file current without choosing it.
    form_->filTest()->setFocus(Qt::TabFocusReason);
    QVERIFY(form_->filTest()->currentItem());
    QVERIFY(form_->FilePath()->text().isEmpty());

    click(form_->filTest(), "b.csv");
    QCOMPARE(form_->FilePath()->text(), dir_ + "/b.csv");
    form_->FilePath()->setText("edited");
    click(form_->filTest(), "b.csv");  // pressed again: written again
    QCOMPARE(form_->FilePath()->text(), dir_ + "/b.csv");
  }

  void clickingAFileAtTheRootDoublesTheSlash() {
    QTemporaryFile atRoot(QStringLiteral("/kestrine-ui-test-XXXXXX.csv"));
    if (!atRoot.open()) QSKIP("cannot create a file in /");
    // Asking for the name links the file into / (it may be opened unnamed).
    const QString name = QFileInfo(atRoot.fileName()).fileName();
    form_ = std::make_unique<Form1>([] {});
    showForm();
    click(form_->filTest(), name);
    QCOMPARE(form_->FilePath()->text(), "//" + name);
  }

  // What the file list writes at the root is what the run opens.
  void aFileClickedAtTheRootOpensByThePathWritten() {
    QTemporaryFile atRoot(QStringLiteral("/kestrine-ui-test-XXXXXX.csv"));
    if (!atRoot.open()) QSKIP("cannot create a file in /");
    QVERIFY(atRoot.write("jdoe,John\r\n") > 0 && atRoot.flush());
    const QString name = QFileInfo(atRoot.fileName()).fileName();
    form_ = std::make_unique<Form1>([] {});
    showForm();
    click(form_->filTest(), name);
    HostFileSystem files(newFileServer());
    auto stream = files.OpenTextFile(form_->FilePath()->text().toStdString());
    QCOMPARE(QString::fromStdString(stream->ReadLine()), QStringLiteral("jdoe,John"));
    QVERIFY(stream->AtEndOfStream());
  }

  void choosingADrivePointsTheDirectoryListThenTheFileList() {
    const QString volume = dir_ + "/sub";
    form_->drvTest()->setDrives({"/", volume});
    form_->FilePath()->setText("kept");
    // Handled within the directory list's assignment: the file list follows
    // before the next handler of that Change runs.
    QString filesAtDirectoryChange;
    connect(form_->dirTest(), &DirListBox::Change, this,
            [&] { filesAtDirectoryChange = form_->filTest()->Path(); });
    form_->drvTest()->setCurrentIndex(form_->drvTest()->findText(volume));
    QCOMPARE(filesAtDirectoryChange, volume);
    QCOMPARE(form_->dirTest()->Path(), volume);
    QCOMPARE(texts(form_->filTest()), QStringList({"in.csv"}));
    QCOMPARE(form_->FilePath()->text(), QStringLiteral("kept"));
  }

  // Root, which the tests run as, reads any directory: what cannot be read
  // here is what is gone or no directory.
  void unreadablePlacesKeepTheLastReadableDirectory() {
    QVERIFY(form_->dirTest()->setPath(dir_));
    showForm();
    QVERIFY(QDir(dir_ + "/sub").removeRecursively());
    doubleClick(form_->dirTest(), "sub");
    QVERIFY(!form_->dirTest()->setPath(dir_ + "/notes.txt"));
    form_->drvTest()->setDrives({"/", dir_ + "/unmounted"});
    form_->drvTest()->setCurrentIndex(form_->drvTest()->findText(dir_ + "/unmounted"));
    QCOMPARE(form_->dirTest()->Path(), dir_);
    QCOMPARE(form_->filTest()->Path(), dir_);
    QCOMPARE(texts(form_->filTest()), QStringList({"A.CSV", "b.csv"}));
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::FilePickerTest)
#include "file_picker_test.moc"
