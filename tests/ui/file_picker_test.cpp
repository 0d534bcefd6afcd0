// Form1's drive, directory and file lists and the path they write to FilePath.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <memory>

#include "ui/dir_list_box.h"
#include "ui/drive_list_box.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"

namespace kestrine {
namespace {

QStringList texts(const QListWidget* list) {
  QStringList shown;
  for (int row = 0; row < list->count(); ++row) shown << list->item(row)->text();
  return shown;
}

void touch(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
}

void makeDir(const QString& path) {
  if (!QDir().mkpath(path)) qFatal("cannot create %s", qPrintable(path));
}

QListWidgetItem* itemNamed(const QListWidget* list, const QString& text) {
  const auto found = list->findItems(text, Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.front();
}

void clickItem(QListWidget* list, QListWidgetItem* item) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

// The events of a real double click: QTest's own sends the second half only.
void doubleClickItem(QListWidget* list, QListWidgetItem* item) {
  const QPoint at = list->visualItemRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class FilePickerTest : public QObject {
  Q_OBJECT

 private:
  Form1& form() { return *form_; }
  void showForm() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }

  std::unique_ptr<Form1> form_;
  int imports_ = 0;
  std::unique_ptr<QTemporaryDir> temp_;
  QString dir_;

 private slots:
  void init() {
    temp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(temp_->isValid());
    dir_ = temp_->path();
    form_ = std::make_unique<Form1>([this] { ++imports_; });
  }
  void cleanup() {
    form_.reset();
    temp_.reset();
  }

  void startsOnTheSystemRootWithAnEmptyFocusedFilePath() {
    QCOMPARE(form().dirTest()->Path(), QStringLiteral("/"));
    QCOMPARE(form().filTest()->Path(), QStringLiteral("/"));
    QCOMPARE(form().drvTest()->Drive(), QStringLiteral("/"));
    QCOMPARE(form().filTest()->Pattern(), QStringLiteral("*.csv"));
    QVERIFY(form().FilePath()->text().isEmpty());
    QCOMPARE(form().dirTest()->item(0)->text(), QStringLiteral("/"));
    QCOMPARE(form().dirTest()->currentRow(), 0);
    for (const QString& name : texts(form().filTest())) {
      QVERIFY2(name.endsWith(u".csv", Qt::CaseInsensitive), qPrintable(name));
      QVERIFY(QFileInfo(QDir::root().filePath(name)).isFile());
    }
  }

  void fileListShowsOnlyFilesMatchingCsvWhateverTheirCase() {
    for (const char* name :
         {"b.csv", "A.CSV", "notes.txt", "users.csv.bak", "csv", ".hidden.csv"}) {
      touch(dir_ + "/" + name);
    }
    makeDir(dir_ + "/folder.csv");
    QVERIFY(form().dirTest()->setPath(dir_));
    QCOMPARE(texts(form().filTest()), QStringList({"A.CSV", "b.csv"}));
  }

  void directoryListShowsTheOpenChainThenSubdirectories() {
    makeDir(dir_ + "/x/beta");
    makeDir(dir_ + "/x/Alpha");
    makeDir(dir_ + "/x/.git");
    touch(dir_ + "/x/file.csv");
    QVERIFY(form().dirTest()->setPath(dir_ + "/x"));

    QStringList chain = QDir::cleanPath(dir_ + "/x").split(u'/', Qt::SkipEmptyParts);
    chain.prepend("/");
    QCOMPARE(texts(form().dirTest()), chain + QStringList({"Alpha", "beta"}));
    QCOMPARE(form().dirTest()->currentRow(), chain.size() - 1);
  }

  void openingADirectoryRelistsTheFilesAndKeepsFilePath() {
    makeDir(dir_ + "/sub");
    touch(dir_ + "/sub/inner.csv");
    touch(dir_ + "/outer.csv");
    showForm();
    form().FilePath()->setText("typed by hand");
    QVERIFY(form().dirTest()->setPath(dir_));
    QCOMPARE(texts(form().filTest()), QStringList({"outer.csv"}));

    QSignalSpy changes(form().dirTest(), &DirListBox::Change);
    doubleClickItem(form().dirTest(), itemNamed(form().dirTest(), "sub"));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(form().dirTest()->Path(), dir_ + "/sub");
    QCOMPARE(texts(form().filTest()), QStringList({"inner.csv"}));

    // Enter on an ancestor opens it as well.
    DirListBox* dirs = form().dirTest();
    dirs->setCurrentItem(itemNamed(dirs, QFileInfo(dir_).fileName()));
    QTest::keyClick(dirs, Qt::Key_Return);
    QCOMPARE(dirs->Path(), dir_);
    QCOMPARE(form().filTest()->Path(), dir_);
    QCOMPARE(form().FilePath()->text(), QStringLiteral("typed by hand"));
  }

  void clickingAFileWritesDirectorySlashName() {
    touch(dir_ + "/users.csv");
    touch(dir_ + "/other.csv");
    showForm();
    QVERIFY(form().dirTest()->setPath(dir_));
    FileListBox* files = form().filTest();
    clickItem(files, itemNamed(files, "users.csv"));
    QCOMPARE(form().FilePath()->text(), dir_ + "/users.csv");

    // Pressing the chosen file again after editing by hand writes it again.
    form().FilePath()->setText("edited");
    clickItem(files, itemNamed(files, "users.csv"));
    QCOMPARE(form().FilePath()->text(), dir_ + "/users.csv");

    QTest::keyClick(files, Qt::Key_Up);
    QCOMPARE(form().FilePath()->text(), dir_ + "/other.csv");
  }

  void focusEnteringTheFileListChoosesNoFile() {
    touch(dir_ + "/users.csv");
    QVERIFY(form().dirTest()->setPath(dir_));
    form().show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form().filTest()->setFocus(Qt::TabFocusReason);
    QVERIFY(form().FilePath()->text().isEmpty());
    QVERIFY(form().filTest()->FileName().isEmpty());
  }

  void clickingAFileAtTheRootDoublesTheSlash() {
    QTemporaryFile atRoot(QStringLiteral("/kestrine-ui-test-XXXXXX.csv"));
    if (!atRoot.open()) QSKIP("cannot create a file in /");
    const QString name = QFileInfo(atRoot.fileName()).fileName();
    form_ = std::make_unique<Form1>([] {});
    showForm();
    FileListBox* files = form().filTest();
    QVERIFY(itemNamed(files, name));
    clickItem(files, itemNamed(files, name));
    QCOMPARE(form().FilePath()->text(), "//" + name);
  }

  void choosingADrivePointsTheDirectoryListThenTheFileList() {
    makeDir(dir_ + "/volume");
    touch(dir_ + "/volume/on-volume.csv");
    const QString volume = dir_ + "/volume";
    form().drvTest()->setDrives({"/", volume});
    form().FilePath()->setText("kept");

    // Handled within the directory list's assignment: the file list already
    // follows when the next handler of that Change runs.
    QString filesWhenDirectoryChanged;
    connect(form().dirTest(), &DirListBox::Change, this,
            [&] { filesWhenDirectoryChanged = form().filTest()->Path(); });
    form().drvTest()->setCurrentIndex(form().drvTest()->findText(volume));

    QCOMPARE(form().drvTest()->Drive(), volume);
    QCOMPARE(filesWhenDirectoryChanged, volume);
    QCOMPARE(form().dirTest()->Path(), volume);
    QCOMPARE(form().filTest()->Path(), volume);
    QCOMPARE(texts(form().filTest()), QStringList({"on-volume.csv"}));
    QCOMPARE(form().FilePath()->text(), QStringLiteral("kept"));
  }

  void driveListHoldsTheSelectedDriveOnce() {
    DriveListBox* drives = form().drvTest();
    QSignalSpy changes(drives, &DriveListBox::Change);
    drives->setDrives({"/mnt/b", "/mnt/a", "/mnt/a"});
    QCOMPARE(drives->Drive(), QStringLiteral("/"));
    QCOMPARE(drives->count(), 3);
    QCOMPARE(drives->itemText(0), QStringLiteral("/"));
    QCOMPARE(drives->itemText(1), QStringLiteral("/mnt/a"));
    QCOMPARE(changes.count(), 0);
    const QStringList mounted = DriveListBox::mountedDrives();
    QVERIFY(mounted.contains("/"));
    QCOMPARE(mounted.count("/"), 1);
  }

  void unreadablePlacesKeepTheLastReadableDirectory() {
    makeDir(dir_ + "/gone");
    touch(dir_ + "/here.csv");
    touch(dir_ + "/plain-file");
    showForm();
    QVERIFY(form().dirTest()->setPath(dir_));
    form().FilePath()->setText("kept");

    // A directory removed after it was listed (an unreadable one would still
    // open for root, which the tests run as).
    QVERIFY(QDir(dir_ + "/gone").removeRecursively());
    doubleClickItem(form().dirTest(), itemNamed(form().dirTest(), "gone"));
    QCOMPARE(form().dirTest()->Path(), dir_);
    QCOMPARE(form().filTest()->Path(), dir_);
    QCOMPARE(texts(form().filTest()), QStringList({"here.csv"}));

    QVERIFY(!form().dirTest()->setPath(dir_ + "/plain-file"));
    QVERIFY(!form().filTest()->setPath(dir_ + "/plain-file"));
    QCOMPARE(form().dirTest()->Path(), dir_);
    QCOMPARE(form().filTest()->Path(), dir_);

    // A drive that went away.
    const QString unmounted = dir_ + "/unmounted";
    form().drvTest()->setDrives({"/", unmounted});
    form().drvTest()->setCurrentIndex(form().drvTest()->findText(unmounted));
    QCOMPARE(form().dirTest()->Path(), dir_);
    QCOMPARE(form().filTest()->Path(), dir_);
    QCOMPARE(texts(form().filTest()), QStringList({"here.csv"}));
    QCOMPARE(form().FilePath()->text(), QStringLiteral("kept"));
  }

  void unreadableStartDirectoryLeavesTheListsWhereTheyStarted() {
    touch(dir_ + "/start.csv");
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_));
    form_ = std::make_unique<Form1>([] {}, dir_ + "/no-such-directory");
    QDir::setCurrent(before);
    QCOMPARE(form().dirTest()->Path(), dir_);
    QCOMPARE(form().filTest()->Path(), dir_);
    QCOMPARE(texts(form().filTest()), QStringList({"start.csv"}));
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::FilePickerTest)
#include "file_picker_test.moc"
