// The import run driving the windows, and the message boxes.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "platform/threads/call_thread.h"
#include "tests/fakes/fakes.h"
#include "tests/ui/message_box_answerer.h"
#include "ui/qt/complete.h"
#include "ui/qt/desktop_pump.h"
#include "ui/qt/form1.h"
#include "ui/qt/forms.h"
#include "ui/qt/loading.h"
#include "ui/qt/picture_button.h"
#include "ui/qt/qt_run_view.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {
namespace {

// Notes when a window is shown or hidden, and lblLoading's text whenever it
// is painted.
class WindowRecorder : public QObject {
 public:
  WindowRecorder() { qApp->installEventFilter(this); }
  QStringList entries;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->isWindow() && !widget->objectName().isEmpty()) {
      if (event->type() == QEvent::Show) entries << "show " + widget->objectName();
      if (event->type() == QEvent::Hide) entries << "hide " + widget->objectName();
    }
    if (watched->objectName() == u"lblLoading" && event->type() == QEvent::Paint) {
      entries << "paint " + qobject_cast<QLabel*>(watched)->text();
    }
    return false;
  }
};

}  // namespace

class QtRunViewTest : public QObject {
  Q_OBJECT

 private slots:
  void importShowsAndPaintsEachStepWhileHoldingTheEventLoop() {
    testing::CallLog log;
    testing::FakeDirectory directory(log);
    testing::FakeFileSystem files(log);
    files.files["users.csv"] = {
        "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"};
    Forms forms(directory, files);
    Form1& form = forms.form1();
    for (const QWidget* w : QApplication::topLevelWidgets()) {  // Loading, Complete come later
      QVERIFY(w->objectName() != u"Loading" && w->objectName() != u"Complete");
    }
    showActivated(&form);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.FilePath()->setText("users.csv");

    WindowRecorder recorder;
    form.Command1()->click();  // the whole run, inside the click
    // A pass over the pending events after a repaint may paint a label again.
    recorder.entries.removeDuplicates();
    QCOMPARE(recorder.entries, QStringList({
                                   "hide Form1",
                                   "show Loading",
                                   "paint Loading Please Wait...",
                                   "paint Adding OU: Sales",
                                   "paint Adding User: John Doe",
                                   "paint Creating Share: \\\\fs1\\home$\\jdoe",
                                   "hide Loading",
                                   "show Complete",
                               }));
    QVERIFY(directory.objects.count("cn=John Doe,OU=Sales,DC=example,DC=test"));
    QVERIFY(forms.complete().isVisible());
    QCOMPARE(forms.complete().lblComplete()->text(),
             QStringLiteral("1 Users and Folders were added successfully!"));
    QVERIFY(forms.loading().lblStep()->text().isEmpty());
  }

  // A folder step that waits for its server's hold, or for a write's answer
  // past the timeout, says so, and then the progress text is back.
  void waitForAServerIsShownInPlaceOfTheProgressText_data() {
    QTest::addColumn<bool>("writeAnsweredLate");
    QTest::newRow("hold") << false;
    QTest::newRow("write answered late") << true;
  }
  void waitForAServerIsShownInPlaceOfTheProgressText() {
    using namespace std::chrono_literals;
    QFETCH(bool, writeAnsweredLate);
    testing::CallLog log;
    testing::FakeDirectory directory(log);
    CallThread calls(answerDesktop);
    struct WaitingShare : testing::FakeFileSystem {
      using FakeFileSystem::FakeFileSystem;
      bool FolderExists(const std::string& path) override {
        if (CallThread* calls = std::exchange(wait, nullptr); calls && late) {
          calls->run([calls] {
            calls->tellIfStillWaiting("fs1.example.test", 100ms);
            std::this_thread::sleep_for(400ms);
          });
        } else if (calls) {
          calls->waitFor("fs1.example.test", 200ms);
        }
        return FakeFileSystem::FolderExists(path);
      }
      CallThread* wait = nullptr;
      bool late = false;
    } files(log);
    files.late = writeAnsweredLate;
    files.files["users.csv"] = {
        "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"};
    Forms forms(directory, files);
    calls.tellWaitsTo([&forms](const std::string& text) { forms.view().showNotice(text); });
    files.wait = &calls;
    forms.form1().FilePath()->setText("users.csv");
    WindowRecorder recorder;
    forms.form1().Command1()->click();
    QStringList painted;  // each text once in a row
    for (const QString& entry : recorder.entries) {
      if (painted.isEmpty() || painted.back() != entry) painted << entry;
    }
    const auto waiting = painted.indexOf("paint Waiting for fs1.example.test to answer...");
    QVERIFY(waiting > 0);
    QCOMPARE(painted.mid(waiting - 1, 3),
             QStringList({"paint Adding User: John Doe",
                          "paint Waiting for fs1.example.test to answer...",
                          "paint Adding User: John Doe"}));
  }

  void messageBoxesOfferOkAloneWithoutIcon() {
    testing::CallLog log;
    testing::FakeDirectory directory(log);
    testing::FakeFileSystem files(log);
    Forms forms(directory, files);
    QtRunView view(forms);
    QStringList seen;
    testing::MessageBoxAnswerer answerer([&](QMessageBox& box) {
      seen << box.windowTitle() << box.text();
      QCOMPARE(box.icon(), QMessageBox::NoIcon);
      QCOMPARE(box.buttons().size(), 1);
      QCOMPARE(box.standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
      QCOMPARE(box.textFormat(), Qt::PlainText);
      QCOMPARE(box.windowModality(), Qt::ApplicationModal);
    });
    view.messageBox("Cannot open <a.csv>\r\nNo such file", 0, "");
    view.messageBox("The path to the CSV file is required!\r\n", 0, "Error - Cannot Continue");
    QCOMPARE(seen,
             QStringList({"Kestrine", "Cannot open <a.csv>\nNo such file",
                          "Error - Cannot Continue", "The path to the CSV file is required!\n"}));
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::QtRunViewTest)
#include "qt_run_view_test.moc"
