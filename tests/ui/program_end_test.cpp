// Command2, Finish and the run's end each end the process at once with status
// 0. Each case runs in a child: this program again, with --end-through CASE.
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstring>

#include "tests/fakes/fakes.h"
#include "tests/ui/message_box_answerer.h"
#include "ui/qt/complete.h"
#include "ui/qt/form1.h"
#include "ui/qt/forms.h"
#include "ui/qt/picture_button.h"
#include "ui/qt/picture_window.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {
namespace {

// Straight to the pipe, so that a note is seen however the process ends.
void note(const QByteArray& text) {
  [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, text.data(), text.size());
}

// Notes each handler that an orderly end would run.
class EndWatcher : public QObject {
 public:
  ~EndWatcher() override { note("destructor\n"); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && dynamic_cast<PictureWindow*>(watched)) note("close\n");
    return false;
  }
};

int endThrough(int argc, char** argv, const QByteArray& how) {
  QApplication application(argc, argv);
  EndWatcher watcher;
  application.installEventFilter(&watcher);
  QObject::connect(&application, &QCoreApplication::aboutToQuit, [] { note("aboutToQuit\n"); });
  std::atexit([] { note("exit handler\n"); });

  testing::CallLog log;
  testing::FakeDirectory directory(log);
  testing::FakeFileSystem files(log);
  Forms forms(directory, files);
  std::printf("buffered\n");  // written only if the end flushes stdio

  if (how == "Command2") {
    showActivated(&forms.form1());
    QTest::keyClick(forms.form1().Command2(), Qt::Key_Space);
  } else if (how == "Finish") {
    showActivated(&forms.complete());
    QTest::mouseClick(forms.complete().Finish(), Qt::LeftButton);
  } else {
    testing::MessageBoxAnswerer answerer([](QMessageBox& box) { note(box.text().toUtf8()); });
    showActivated(&forms.form1());
    QTest::mouseClick(forms.form1().Command1(), Qt::LeftButton);  // FilePath is empty
  }
  return 3;
}

}  // namespace

class ProgramEndTest : public QObject {
  Q_OBJECT

 private slots:
  void endsAtOnceWithStatusZero_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("output");
    QTest::newRow("Command2") << "Command2"
                              << "buffered\n";
    QTest::newRow("Finish") << "Finish"
                            << "buffered\n";
    QTest::newRow("run") << "run"
                         << "The path to the CSV file is required!\nbuffered\n";
  }
  void endsAtOnceWithStatusZero() {
    QFETCH(QString, how);
    QFETCH(QString, output);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--end-through", how});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), output);
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
