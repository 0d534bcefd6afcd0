// x-screenshot FILE.png [X Y WIDTH HEIGHT [ZOOM]]: saves the primary screen of
// $DISPLAY, or a part of it enlarged, for looking at the windows under a bare
// X server.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2 && argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: %s FILE.png [X Y WIDTH HEIGHT [ZOOM]]\n", argv[0]);
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    std::fprintf(stderr, "%s: no screen\n", argv[0]);
    return 1;
  }
  QPixmap shot = argc == 2 ? screen->grabWindow(0)
                           : screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]),
                                                std::atoi(argv[4]), std::atoi(argv[5]));
  if (argc == 7) shot = shot.scaled(shot.size() * std::atoi(argv[6]));  // nearest pixel
  if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "%s: cannot save %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
