// Command2, Finish and the run's end each end the process at once with status
// 0. Each case runs in a child: this program started again with
// --end-through CASE.
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/fakes/fakes.h"
#include "tests/ui/message_box_answerer.h"
#include "ui/complete.h"
#include "ui/form1.h"
#include "ui/picture_button.h"
#include "ui/window_conventions.h"
#include "ui/windows.h"

namespace kestrine {
namespace {

// Straight to the pipe, so that a note is seen however the process ends.
void note(const QByteArray& text) {
  const QByteArray line = text + '\n';
  [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, line.data(), line.size());
}

// Notes every close request that reaches one of the program's windows.
class CloseWatcher : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QString name = watched->objectName();
    if (event->type() == QEvent::Close &&
        (name == u"Form1" || name == u"Loading" || name == u"Complete")) {
      note("close event to " + name.toUtf8());
    }
    return false;
  }
};

struct DestructorNote {
  ~DestructorNote() { note("destructor ran"); }
};

int endThrough(int argc, char** argv, const QByteArray& how) {
  QApplication application(argc, argv);
  std::atexit([] { note("exit handler ran"); });
  QObject::connect(&application, &QCoreApplication::aboutToQuit, [] { note("aboutToQuit"); });
  CloseWatcher closes;
  application.installEventFilter(&closes);
  DestructorNote destructor;

  testing::CallLog log;
  testing::FakeDirectory directory(log);
  testing::FakeFileSystem files(log);
  Windows windows(directory, files);
  // Left in stdio's buffer: only a flush before the end writes it.
  std::printf("buffered output\n");

  if (how == "Command2") {
    Form1& form = windows.form1();
    showActivated(&form);
    if (!QTest::qWaitForWindowActive(&form)) return 4;
    QTest::keyClick(form.Command2(), Qt::Key_Space);
  } else if (how == "Finish") {
    Complete& complete = windows.complete();
    showActivated(&complete);
    if (!QTest::qWaitForWindowActive(&complete)) return 4;
    QTest::mouseClick(complete.Finish(), Qt::LeftButton);
  } else if (how == "run") {
    testing::MessageBoxAnswerer answerer(
        [](const testing::SeenBox& box) { note("box: " + box.text.toUtf8()); });
    Form1& form = windows.form1();
    showActivated(&form);
    form.FilePath()->clear();
    QTest::mouseClick(form.Command1(), Qt::LeftButton);
  }
  note("returned");
  return 3;
}

}  // namespace

class ProgramEndTest : public QObject {
  Q_OBJECT

 private slots:
  void endsAtOnceWithStatusZero_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Command2") << "Command2"
                              << "";
    QTest::newRow("Finish") << "Finish"
                            << "";
    QTest::newRow("run without a path") << "run"
                                        << "box: The path to the CSV file is required!\n\n";
  }
  void endsAtOnceWithStatusZero() {
    QFETCH(QString, how);
    QFETCH(QString, shown);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--end-through", how});
    QVERIFY(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());

    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // Only the buffered line (and the box's note): no handler, no close, no return.
    QCOMPARE(out, shown + "buffered output\n");
  }
};

}  // namespace kestrine

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--end-through") == 0) {
    return kestrine::endThrough(argc, argv, argv[2]);
  }
  QApplication application(argc, argv);
  kestrine::ProgramEndTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "program_end_test.moc"
