// The import run driving the windows: what is shown, hidden and painted, in
// which order, and the message boxes.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <memory>

#include "tests/fakes/fakes.h"
#include "tests/ui/message_box_answerer.h"
#include "ui/complete.h"
#include "ui/form1.h"
#include "ui/loading.h"
#include "ui/picture_button.h"
#include "ui/qt_run_view.h"
#include "ui/window_conventions.h"
#include "ui/windows.h"

namespace kestrine {
namespace {

using testing::CallLog;
using testing::FakeDirectory;
using testing::FakeFileSystem;
using testing::MessageBoxAnswerer;

const std::string kFull = "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd";

// Notes, for the three windows, when they are shown or hidden, and for
// lblLoading, the text it has whenever it is painted.
class WindowRecorder : public QObject {
 public:
  WindowRecorder() { qApp->installEventFilter(this); }
  ~WindowRecorder() override { qApp->removeEventFilter(this); }

  QStringList entries;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    const QString name = widget->objectName();
    const bool window =
        widget->isWindow() && (name == u"Form1" || name == u"Loading" || name == u"Complete");
    if (window && event->type() == QEvent::Show) entries << "show " + name;
    if (window && event->type() == QEvent::Hide) entries << "hide " + name;
    if (name == u"lblLoading" && event->type() == QEvent::Paint) {
      entries << "paint " + qobject_cast<QLabel*>(widget)->text();
    }
    return false;
  }
};

bool windowExists(const QString& name) {
  const auto windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(),
                     [&](const QWidget* w) { return w->objectName() == name; });
}

}  // namespace

class QtRunViewTest : public QObject {
  Q_OBJECT

 private:
  // Shows Form1 the way start-up does, picks `path` and presses Import.
  void importFrom(const QString& path) {
    Form1& form = windows_->form1();
    showActivated(&form);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.FilePath()->setText(path);
    recorder_ = std::make_unique<WindowRecorder>();
    // click() runs the run within, with no pass of the event loop in between.
    form.Command1()->click();
  }

  CallLog log_;
  std::unique_ptr<FakeDirectory> directory_;
  std::unique_ptr<FakeFileSystem> files_;
  std::unique_ptr<Windows> windows_;
  std::unique_ptr<WindowRecorder> recorder_;

 private slots:
  void init() {
    log_.entries.clear();
    directory_ = std::make_unique<FakeDirectory>(log_);
    files_ = std::make_unique<FakeFileSystem>(log_);
    windows_ = std::make_unique<Windows>(*directory_, *files_);
  }
  void cleanup() {
    recorder_.reset();
    windows_.reset();
  }

  void windowsComeIntoBeingInvisibleAtFirstUse() {
    QVERIFY(!windowExists("Form1") && !windowExists("Loading") && !windowExists("Complete"));
    Form1& form = windows_->form1();
    QVERIFY(!form.isVisible());
    QVERIFY(!windowExists("Loading") && !windowExists("Complete"));
    QCOMPARE(&windows_->form1(), &form);
    QVERIFY(!windows_->loading().isVisible());
    QVERIFY(!windows_->complete().isVisible());
    QCOMPARE(&windows_->loading(), &windows_->loading());
  }

  void importPaintsEachProgressTextWhileTheRunHoldsTheEventLoop() {
    files_->files["users.csv"] = {kFull};
    importFrom("users.csv");

    const QStringList expected = {
        "hide Form1",
        "show Loading",
        "paint Loading Please Wait...",
        "paint Adding OU: Sales",
        "paint Adding User: John Doe",
        "paint Creating Share: \\\\fs1\\home$\\jdoe",
        "hide Loading",
        "show Complete",
    };
    QCOMPARE(recorder_->entries, expected);
    QVERIFY(directory_->objects.count("cn=John Doe,OU=Sales,DC=example,DC=test"));

    QVERIFY(!windows_->form1().isVisible());
    QVERIFY(!windows_->loading().isVisible());
    QVERIFY(windows_->complete().isVisible());
    QCOMPARE(windows_->complete().lblComplete()->text(),
             QStringLiteral("1 Users and Folders were added successfully!"));
    QVERIFY(windows_->loading().lblStep()->text().isEmpty());
    // The ordinary painting resumes: nothing left that the event loop would
    // still have to show of the run.
    QVERIFY(QTest::qWaitForWindowExposed(&windows_->complete()));
  }

  void fileWithoutRecordsKeepsTheDesignedProgressText() {
    files_->files["empty.csv"] = {};
    importFrom("empty.csv");
    QCOMPARE(recorder_->entries,
             QStringList({"hide Form1", "show Loading", "paint Loading Please Wait...",
                          "hide Loading", "show Complete"}));
    QCOMPARE(windows_->loading().lblLoading()->text(), QStringLiteral("Loading Please Wait..."));
    QCOMPARE(windows_->complete().lblComplete()->text(),
             QStringLiteral("0 Users and Folders were added successfully!"));
  }

  void progressTextFromTheFileIsShownAsText() {
    files_->files["users.csv"] = {
        "jdoe,<b>John</b> &amp; Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"};
    importFrom("users.csv");
    QVERIFY(recorder_->entries.contains("paint Adding User: <b>John</b> &amp; Doe"));
    QCOMPARE(windows_->loading().lblLoading()->textFormat(), Qt::PlainText);
  }

  void failedRecordsAreListedInABoxBeforeComplete() {
    directory_->failWhen("SetPassword");
    files_->files["users.csv"] = {kFull};
    bool completeShownBeforeBox = false;
    MessageBoxAnswerer answerer([&](const testing::SeenBox&) {
      completeShownBeforeBox = windows_->complete().isVisible();
    });
    importFrom("users.csv");

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].title, QStringLiteral("Kestrine"));
    QVERIFY2(answerer.boxes[0].text.startsWith("jdoe: "), qPrintable(answerer.boxes[0].text));
    QVERIFY(!completeShownBeforeBox);
    QCOMPARE(windows_->complete().lblComplete()->text(),
             QStringLiteral("0 Users and Folders were added successfully! 1 failed."));
  }

  void messageBoxesOfferOkAloneWithoutIcon_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shownTitle");
    QTest::newRow("no title") << ""
                              << "Kestrine";
    QTest::newRow("own title") << "Error - Cannot Continue"
                               << "Error - Cannot Continue";
  }
  void messageBoxesOfferOkAloneWithoutIcon() {
    QFETCH(QString, title);
    QFETCH(QString, shownTitle);
    MessageBoxAnswerer answerer;
    QtRunView view(*windows_);
    view.messageBox("Cannot open the CSV file: <a.csv>\r\nNo such file or directory", 0,
                    title.toStdString());

    QCOMPARE(answerer.boxes.size(), 1);
    const testing::SeenBox& box = answerer.boxes[0];
    QCOMPARE(box.title, shownTitle);
    QCOMPARE(box.text,
             QStringLiteral("Cannot open the CSV file: <a.csv>\nNo such file or directory"));
    QCOMPARE(box.textFormat, Qt::PlainText);
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.modality, Qt::ApplicationModal);
  }

  void filePathTextIsReadAsUtf8() {
    QtRunView view(*windows_);
    windows_->form1().FilePath()->setText(QStringLiteral("/tmp/Müller.csv"));
    QCOMPARE(view.filePathText(), std::string("/tmp/M\xC3\xBCller.csv"));
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::QtRunViewTest)
#include "qt_run_view_test.moc"
