// Places, fonts, flags, pictures and focus order of the three windows.
#include <QApplication>
#include <QFontInfo>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <memory>

#include "tests/fakes/fakes.h"
#include "ui/qt/complete.h"
#include "ui/qt/form1.h"
#include "ui/qt/forms.h"
#include "ui/qt/loading.h"
#include "ui/qt/picture_button.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {
namespace {

struct Control {
  const char* window;
  const char* name;
  QRect pixels;
  qreal points;  // 0: no text of its own
  bool bold;
};

// Worked out by hand from the twips, each edge rounded to the nearest pixel.
const Control kControls[] = {
    {"Form1", "lblCreateUsers", {8, 2, 225, 17}, 9, true},
    {"Form1", "lblSelectCSV", {8, 32, 425, 17}, 8.25, false},
    {"Form1", "drvTest", {8, 56, 201, 21}, 8.25, false},
    {"Form1", "dirTest", {8, 88, 201, 156}, 8.25, false},
    {"Form1", "filTest", {216, 88, 209, 149}, 8.25, false},
    {"Form1", "FilePath", {8, 260, 417, 21}, 9, false},
    {"Form1", "Command1", {8, 288, 58, 21}, 0, false},    // 875 twips: 58.33 px
    {"Form1", "Command2", {376, 288, 58, 21}, 0, false},  // right edge 434.33
    {"Loading", "lblLoading", {8, 24, 377, 17}, 9.75, true},
    {"Loading", "lblStep", {8, 0, 137, 17}, 6.75, true},
    {"Complete", "lblComplete", {0, 24, 401, 25}, 8.25, false},  // 8 px past the edge
    {"Complete", "Finish", {168, 48, 58, 23}, 0, false},         // bottom edge 71.33
};

struct Window {
  const char* name;
  const char* caption;
  QSize client;
  Qt::WindowType type;  // Qt::Tool keeps it off the taskbar
  const char* picture;
  QList<QPoint> bare;  // points where only the picture shows, labels included
};

const Window kWindows[] = {
    {"Form1", "Kestrine", {443, 320}, Qt::Tool, "form1.png", {{2, 160}, {220, 10}, {430, 40}}},
    {"Loading", "Working...", {394, 67}, Qt::Window, "loading.png", {{391, 64}, {10, 30}, {60, 8}}},
    // A scaled 400 x 200 picture would not match at these points.
    {"Complete",
     "Dialog Caption",
     {393, 82},
     Qt::Tool,
     "complete.png",
     {{2, 2}, {2, 30}, {390, 81}}},
};

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private:
  QWidget* window(const QString& name) {
    if (name == u"Form1") return &forms_->form1();
    if (name == u"Loading") return &forms_->loading();
    return &forms_->complete();
  }

  testing::CallLog log_;
  testing::FakeDirectory directory_{log_};
  testing::FakeFileSystem files_{log_};
  std::unique_ptr<Forms> forms_;

 private slots:
  void init() { forms_ = std::make_unique<Forms>(directory_, files_); }
  void cleanup() { forms_.reset(); }

  void controlsSitWhereTheirTwipsSayInVerdana() {
    for (const Control& c : kControls) {
      auto* control = window(c.window)->findChild<QWidget*>(c.name);
      QVERIFY2(control && control->geometry() == c.pixels, c.name);
      if (c.points == 0) continue;
      const QFont font = control->font();
      QVERIFY2(font.family() == u"Verdana" && font.pointSizeF() == c.points &&
                   font.weight() == (c.bold ? QFont::Bold : QFont::Normal) && !font.italic() &&
                   !font.underline() && !font.strikeOut(),
               c.name);
      // Without Verdana its look-alike, not whatever sans serif comes first.
      const QString used = QFontInfo(font).family();
      QVERIFY2(used == u"Verdana" || used == u"DejaVu Sans", qPrintable(used));
    }
  }

  void windowsAreFramelessFixedCentredAndDrawTheirPictureUnscaled() {
    for (const Window& expected : kWindows) {
      QWidget* w = window(expected.name);
      QCOMPARE(w->windowTitle(), QString(expected.caption));
      QCOMPARE(w->minimumSize(), expected.client);
      QCOMPARE(w->maximumSize(), expected.client);
      QCOMPARE(w->windowType(), expected.type);
      QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
      QVERIFY(!w->isVisible());
      showActivated(w);
      const QPoint offset = w->geometry().center() - w->screen()->geometry().center();
      QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1, expected.name);

      const QImage shown = w->grab().toImage();
      const QImage picture(assetPath(expected.picture));
      for (const QPoint& p : expected.bare) {
        QVERIFY2(shown.pixel(p) == picture.pixel(p), expected.name);
      }
    }
    QVERIFY(forms_->form1().windowIcon().availableSizes().contains(QSize(16, 16)));
    QVERIFY(forms_->form1().windowIcon().availableSizes().contains(QSize(48, 48)));
    QVERIFY(!forms_->loading().testAttribute(Qt::WA_SetWindowIcon));
  }

  void focusStartsInFilePathAndTabCyclesInTabIndexOrder() {
    Form1& form = forms_->form1();
    showActivated(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.FilePath());
    QStringList visited;
    for (int i = 0; i < 6; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited,
             QStringList({"Command2", "drvTest", "dirTest", "filTest", "Command1", "FilePath"}));
    QTest::keyClick(form.FilePath(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), form.Command1());
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::WindowLayoutTest)
#include "window_layout_test.moc"
