// Places, sizes, fonts, colours, flags and focus order of the three windows.
#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <memory>

#include "tests/fakes/fakes.h"
#include "ui/complete.h"
#include "ui/dir_list_box.h"
#include "ui/drive_list_box.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/loading.h"
#include "ui/picture_button.h"
#include "ui/window_conventions.h"
#include "ui/windows.h"

namespace kestrine {
namespace {

using testing::CallLog;
using testing::FakeDirectory;
using testing::FakeFileSystem;

QColor rgbAt(const QImage& image, int x, int y) {
  return QColor(image.pixel(x, y));
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private:
  QWidget* window(const QString& name) {
    if (name == u"Form1") return &windows_->form1();
    if (name == u"Loading") return &windows_->loading();
    return &windows_->complete();
  }
  QWidget* control(const QString& windowName, const QString& name) {
    auto* found = window(windowName)->findChild<QWidget*>(name);
    if (!found) qFatal("no control %s", qPrintable(name));
    return found;
  }

  CallLog log_;
  FakeDirectory directory_{log_};
  FakeFileSystem files_{log_};
  std::unique_ptr<Windows> windows_;

 private slots:
  void init() { windows_ = std::make_unique<Windows>(directory_, files_); }
  void cleanup() { windows_.reset(); }

  void twipsRoundToTheNearestPixelByEdge() {
    QCOMPARE(twipsToPixels(875), 58);  // 58.33
    QCOMPARE(twipsToPixels(5640 + 875), 434);
    QCOMPARE(twipsToPixels(1070), 71);  // 71.33
    QCOMPARE(twipsToPixels(1072), 71);  // 71.47
    QCOMPARE(twipsToPixels(1073), 72);  // 71.53
    // 720 + 350 twips: 48 to 71.33, so 23 px high rather than 350 / 15 = 23.33.
    QCOMPARE(twipsRect(2520, 720, 875, 350), QRect(168, 48, 58, 23));
  }

  void controlPlaces_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("lblCreateUsers") << "Form1"
                                    << "lblCreateUsers" << QRect(8, 2, 225, 17);
    QTest::newRow("lblSelectCSV") << "Form1"
                                  << "lblSelectCSV" << QRect(8, 32, 425, 17);
    QTest::newRow("drvTest") << "Form1"
                             << "drvTest" << QRect(8, 56, 201, 21);
    QTest::newRow("dirTest") << "Form1"
                             << "dirTest" << QRect(8, 88, 201, 156);
    QTest::newRow("filTest") << "Form1"
                             << "filTest" << QRect(216, 88, 209, 149);
    QTest::newRow("FilePath") << "Form1"
                              << "FilePath" << QRect(8, 260, 417, 21);
    QTest::newRow("Command1") << "Form1"
                              << "Command1" << QRect(8, 288, 58, 21);
    QTest::newRow("Command2") << "Form1"
                              << "Command2" << QRect(376, 288, 58, 21);
    QTest::newRow("lblLoading") << "Loading"
                                << "lblLoading" << QRect(8, 24, 377, 17);
    QTest::newRow("lblStep") << "Loading"
                             << "lblStep" << QRect(8, 0, 137, 17);
    // Runs 8 px past the window's right edge.
    QTest::newRow("lblComplete") << "Complete"
                                 << "lblComplete" << QRect(0, 24, 401, 25);
    QTest::newRow("Finish") << "Complete"
                            << "Finish" << QRect(168, 48, 58, 23);
  }
  void controlPlaces() {
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QRect, pixels);
    QCOMPARE(this->control(window, control)->geometry(), pixels);
  }

  void windows_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<bool>("inTaskbar");
    QTest::newRow("Form1") << "Form1"
                           << "Kestrine" << QSize(443, 320) << false;
    QTest::newRow("Loading") << "Loading"
                             << "Working..." << QSize(394, 67) << true;
    QTest::newRow("Complete") << "Complete"
                              << "Dialog Caption" << QSize(393, 82) << false;
  }
  void windows() {
    QFETCH(QString, window);
    QFETCH(QString, caption);
    QFETCH(QSize, client);
    QFETCH(bool, inTaskbar);
    QWidget* w = this->window(window);
    QCOMPARE(w->objectName(), window);
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(w->size(), client);
    QCOMPARE(w->minimumSize(), client);
    QCOMPARE(w->maximumSize(), client);
    QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(w->windowType(), inTaskbar ? Qt::Window : Qt::Tool);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->parentWidget());
  }

  void onlyForm1HasAnIconOfItsOwn() {
    const QIcon icon = windows_->form1().windowIcon();
    QVERIFY(windows_->form1().testAttribute(Qt::WA_SetWindowIcon));
    for (int side : {16, 32, 48}) {
      QVERIFY2(icon.availableSizes().contains(QSize(side, side)),
               qPrintable(QString::number(side)));
    }
    QVERIFY(!windows_->loading().testAttribute(Qt::WA_SetWindowIcon));
    QVERIFY(!windows_->complete().testAttribute(Qt::WA_SetWindowIcon));
  }

  void fonts_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::newRow("lblCreateUsers") << "Form1"
                                    << "lblCreateUsers" << 9.0 << true;
    QTest::newRow("lblSelectCSV") << "Form1"
                                  << "lblSelectCSV" << 8.25 << false;
    QTest::newRow("drvTest") << "Form1"
                             << "drvTest" << 8.25 << false;
    QTest::newRow("dirTest") << "Form1"
                             << "dirTest" << 8.25 << false;
    QTest::newRow("filTest") << "Form1"
                             << "filTest" << 8.25 << false;
    QTest::newRow("FilePath") << "Form1"
                              << "FilePath" << 9.0 << false;
    QTest::newRow("lblLoading") << "Loading"
                                << "lblLoading" << 9.75 << true;
    QTest::newRow("lblStep") << "Loading"
                             << "lblStep" << 6.75 << true;
    QTest::newRow("lblComplete") << "Complete"
                                 << "lblComplete" << 8.25 << false;
  }
  void fonts() {
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    const QFont font = this->control(window, control)->font();
    QCOMPARE(font.family(), QStringLiteral("Verdana"));
    QCOMPARE(font.pointSizeF(), points);
    QCOMPARE(font.weight(), bold ? QFont::Bold : QFont::Normal);
    QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());
    // Without Verdana the look-alike is used, not whatever sans serif comes first.
    const QString used = QFontInfo(font).family();
    QVERIFY2(used == u"Verdana" || used == u"DejaVu Sans", qPrintable(used));
  }

  void labelsTakeNoFocusAndShowPlainText_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("centred");
    QTest::newRow("lblCreateUsers") << "Form1"
                                    << "lblCreateUsers"
                                    << "Create Users" << false;
    QTest::newRow("lblSelectCSV") << "Form1"
                                  << "lblSelectCSV"
                                  << "Please select the CSV that contains the required info."
                                  << false;
    QTest::newRow("lblLoading") << "Loading"
                                << "lblLoading"
                                << "Loading Please Wait..." << true;
    QTest::newRow("lblStep") << "Loading"
                             << "lblStep"
                             << "" << false;
    QTest::newRow("lblComplete") << "Complete"
                                 << "lblComplete"
                                 << "" << true;
  }
  void labelsTakeNoFocusAndShowPlainText() {
    QFETCH(QString, window);
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(bool, centred);
    auto* l = qobject_cast<QLabel*>(control(window, label));
    QVERIFY(l);
    QCOMPARE(l->text(), text);
    QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    QCOMPARE(l->textFormat(), Qt::PlainText);
    QCOMPARE(l->alignment() & Qt::AlignHorizontal_Mask, centred ? Qt::AlignHCenter : Qt::AlignLeft);
  }

  void textColours() {
    const QPalette system = QApplication::palette();
    auto labelColour = [this](const QString& window, const QString& name) {
      auto* label = control(window, name);
      return label->palette().color(label->foregroundRole());
    };
    QCOMPARE(labelColour("Form1", "lblCreateUsers"), system.color(QPalette::HighlightedText));
    QCOMPARE(labelColour("Form1", "lblSelectCSV"), system.color(QPalette::HighlightedText));
    QCOMPARE(labelColour("Complete", "lblComplete"), system.color(QPalette::HighlightedText));
    QCOMPARE(labelColour("Loading", "lblStep"), system.color(QPalette::Button));
    QCOMPARE(labelColour("Loading", "lblLoading"), QColor(224, 224, 224));

    const QColor dark(64, 64, 64);
    Form1& form = windows_->form1();
    QCOMPARE(form.drvTest()->palette().color(QPalette::ButtonText), dark);
    QCOMPARE(form.dirTest()->palette().color(QPalette::Text), dark);
    QCOMPARE(form.filTest()->palette().color(QPalette::Text), dark);
    QCOMPARE(form.FilePath()->palette().color(QPalette::Text), dark);
  }

  // The picture at the top-left, unscaled, with the labels letting it through:
  // sample points inside labels and the window's edge match the picture.
  void backgroundPicturesShowThroughTheLabels_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QList<QPoint>>("points");
    QTest::newRow("Form1") << "Form1"
                           << "form1.png"
                           << QList<QPoint>{{2, 0}, {2, 160}, {440, 319}, {220, 10}, {430, 40}};
    QTest::newRow("Loading") << "Loading"
                             << "loading.png"
                             << QList<QPoint>{{2, 2}, {391, 64}, {10, 30}, {60, 8}};
    // Complete's picture is 400 x 200; a scaled picture would not match here.
    QTest::newRow("Complete") << "Complete"
                              << "complete.png"
                              << QList<QPoint>{{2, 2}, {2, 30}, {2, 81}, {390, 81}, {100, 70}};
  }
  void backgroundPicturesShowThroughTheLabels() {
    QFETCH(QString, window);
    QFETCH(QString, picture);
    QFETCH(QList<QPoint>, points);
    const QImage shown = this->window(window)->grab().toImage();
    const QImage expected(assetPath(picture));
    QVERIFY(!expected.isNull());
    for (const QPoint& p : points) {
      QVERIFY2(rgbAt(shown, p.x(), p.y()) == rgbAt(expected, p.x(), p.y()),
               qPrintable(QStringLiteral("at %1,%2").arg(p.x()).arg(p.y())));
    }
  }

  void firstShowCentresOnTheScreen_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("Form1") << "Form1";
    QTest::newRow("Loading") << "Loading";
    QTest::newRow("Complete") << "Complete";
  }
  void firstShowCentresOnTheScreen() {
    QFETCH(QString, window);
    QWidget* w = this->window(window);
    showActivated(w);
    const QRect screen = w->screen()->geometry();
    QVERIFY(qAbs(w->geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(w->geometry().center().y() - screen.center().y()) <= 1);
  }

  void tabCyclesFromFilePathInTabIndexOrder() {
    Form1& form = windows_->form1();
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

  void finishHasTheFocusOfComplete() {
    Complete& complete = windows_->complete();
    showActivated(&complete);
    QVERIFY(QTest::qWaitForWindowActive(&complete));
    QCOMPARE(QApplication::focusWidget(), complete.Finish());
    QTest::keyClick(complete.Finish(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), complete.Finish());
  }

  void windowsStayWhenAskedToClose() {
    for (QWidget* w :
         {static_cast<QWidget*>(&windows_->form1()), static_cast<QWidget*>(&windows_->loading()),
          static_cast<QWidget*>(&windows_->complete())}) {
      w->show();
      QVERIFY(!w->close());
      QVERIFY(w->isVisible());
    }
  }

  void pictureButtonsAnswerSpaceEnterAndTheMouse() {
    PictureButton* button = windows_->form1().Command1();
    QVERIFY(button->text().isEmpty());
    int clicks = 0;
    // The run behind Command1 is not wanted here.
    button->disconnect();
    connect(button, &QAbstractButton::clicked, this, [&clicks] { ++clicks; });
    QTest::keyClick(button, Qt::Key_Space);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 3);
  }
};

}  // namespace kestrine

QTEST_MAIN(kestrine::WindowLayoutTest)
#include "window_layout_test.moc"
